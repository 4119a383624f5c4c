// What the serial server's tests share: an exchange through the interface
// with everything it reports, and a catch of the server's log.
#pragma once

#include <algorithm>
#include <mutex>
#include <vector>

#include "server/ServerLog.h"
#include "transport/ModbusSerialServer.h"
#include "transport/OleSafeArrayEx.h"

class CExchange {
public:
    HRESULT m_hr = E_FAIL;
    LONG m_nStatus = -1;
    CByteArray m_answer;
    // The response came as a 1-D VT_UI1 array, as the contract wants.
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

// Holds the log's lines (at every level) while alive.
class CLogCapture {
public:
    CLogCapture() {
        m_oldLevel = CServerLog::GetLevel();
        CServerLog::SetLevel(CServerLog::LEVEL_DEBUG);
        CServerLog::SetSink([this](CServerLog::ELevel, const CString& strLine) {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_lines.push_back(strLine);
        });
    }
    ~CLogCapture() {
        CServerLog::SetSink(nullptr);
        CServerLog::SetLevel(m_oldLevel);
    }
    bool Contains(const CString& strText) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return std::any_of(m_lines.begin(), m_lines.end(), [&](const CString& strLine) {
            return strLine.find(strText) != CString::npos;
        });
    }

private:
    CServerLog::ELevel m_oldLevel;
    std::mutex m_mutex;
    std::vector<CString> m_lines;
};
