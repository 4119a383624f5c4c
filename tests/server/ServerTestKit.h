// What the serial server's tests share: a port object set up on a device,
// an exchange through the interface with everything it reports, fault rules
// for the simulator, a raw Modbus/TCP client and a catch of the server's log.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "serialapi/ModbusSerialServer.h"
#include "serialapi/OleSafeArrayEx.h"
#include "server/SerialPortObject.h"
#include "server/ServerLog.h"
#include "sim/SimFaults.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/SimRule.h"

// A port object on COMn, mapped to strPath and connected; null when the
// device does not open.
inline IModbusSerialPort* OpenPort(std::shared_ptr<CSerialPorts>& pPorts, int nPort,
                                   const CString& strPath, SHORT nMode, LONG nTimeout = 300) {
    CPortMap map;
    map.SetPath(nPort, strPath);
    pPorts = std::make_shared<CSerialPorts>(map);
    IModbusSerialPort* pPort = new CSerialPortObject(pPorts);
    pPort->put_Port(static_cast<SHORT>(nPort));
    pPort->put_Mode(nMode);
    pPort->put_Timeout(nTimeout);
    pPort->put_ErrorDelay(0);
    VARIANT_BOOL bOpen = VARIANT_FALSE;
    pPort->Connect(&bOpen);
    if (bOpen != VARIANT_TRUE) {
        pPort->Release();
        return nullptr;
    }
    return pPort;
}

class CExchange {
public:
    HRESULT m_hr = E_FAIL;
    LONG m_nStatus = -1;
    CByteArray m_answer;
    // The response came as a 1-D VT_UI1 array, as the interface promises.
    bool m_bArray = false;
};

inline CExchange Transfer(IModbusSerialPort* pPort, const CByteArray& request) {
    COleSafeArrayEx req;
    req.FromByteArray(request, nullptr, VT_UI1);
    COleSafeArrayEx resp;
    COleSafeArrayEx extra;
    CExchange x;
    VARIANT byValue = req;
    x.m_hr = pPort->Transfer(byValue, LONG(request.size()), &resp, LONG(request.size()), &extra,
                             &x.m_nStatus);
    x.m_bArray = resp.vt == (VT_ARRAY | VT_UI1) && resp.ToByteArray(x.m_answer);
    return x;
}

inline constexpr LONG ServerStatus(WORD wStatus) {
    return MODBUS_SERVER_STATUS_BASE + wStatus;
}

inline CByteArray Mbap(WORD wTransaction, const CByteArray& adu) {
    CByteArray frame{HIBYTE(wTransaction),         LOBYTE(wTransaction), 0, 0, 0,
                     static_cast<BYTE>(adu.size())};
    frame.insert(frame.end(), adu.begin(), adu.end());
    return frame;
}

// Holds the server log's lines while alive.
class CLogCapture {
public:
    CLogCapture() {
        CServerLog::SetSink([this](CServerLog::ELevel, const CString& strLine) {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_strLog += strLine + "\n";
        });
    }
    ~CLogCapture() { CServerLog::SetSink(nullptr); }
    bool Contains(const CString& strText) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_strLog.find(strText) != CString::npos;
    }

private:
    std::mutex m_mutex;
    CString m_strLog;
};
