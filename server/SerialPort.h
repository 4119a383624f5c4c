// One of the ports COM1..COM8 as every client sees it: the settings, the
// open line and the TCP gateway are shared by all objects bound to the
// port, and one exchange runs at a time, whoever asks. Line settings take
// effect at the next Connect; time-outs, intervals and the mode at the next
// exchange.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "PortMap.h"
#include "platform/com/ComPtr.h"
#include "platform/com/OleAuto.h"
#include "wire/AsciiParser.h"
#include "wire/RtuParser.h"
#include "wire/SerialLine.h"

class CTcpGateway;

class CSerialPort : public std::enable_shared_from_this<CSerialPort> {
public:
    CSerialPort(int nNumber, std::shared_ptr<CPortMap> pMap);
    // Stops the gateway and closes the line.
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    int GetNumber() const { return m_nNumber; }
    CString GetName() const { return "COM" + std::to_string(m_nNumber); }

    CSerialSettings GetSettings() const;
    // Applies change to the settings as one step.
    template <typename F>
    void ChangeSettings(F change) {
        std::lock_guard<std::mutex> guard(m_settingsMutex);
        change(m_settings);
    }

    // Closes the line if open and opens the mapped device with the current
    // settings; FALSE when it cannot be opened (the line stays closed).
    // *pnError (when given): the errno of a failed open, 0 for another failure.
    BOOL Connect(int* pnError = nullptr);
    BOOL IsActive() const { return m_bActive; }
    void Close();

    // Sends the request (address, PDU) and reads the answer. Returns 0 with
    // the answer (address on, no checksum) in answer, or the interface's
    // status (0x80040200 + status); an exception answer also comes back in
    // answer. A request to address 0 is a broadcast: nothing answers it.
    LONG Exchange(const BYTE* pbRequest, size_t nRequest, CByteArray& answer);

    // The port's TCP gateway, made when first asked for; with a reference.
    HRESULT GetGateway(IDispatch** ppGateway);
    BOOL IsGatewayRunning() const;
    void StopGateway();

private:
    using Clock = std::chrono::steady_clock;

    LONG ExchangeLocked(const CSerialSettings& s, const BYTE* pbRequest, size_t nRequest,
                        CByteArray& answer);
    // Waits out the gap and sends the framed request; 0, or the status of
    // the failure. nSendMicros gets how long the frame takes on the line.
    LONG SendRequest(const CSerialSettings& s, const BYTE* pbRequest, size_t nRequest,
                     LONGLONG& nSendMicros);
    // Reads the answer until it is complete, the line falls silent after it
    // (RTU) or the time-out ends; 0 with the answer, or the status.
    LONG ReceiveAnswer(const CSerialSettings& s, const BYTE* pbRequest, size_t nRequest,
                       LONGLONG nSendMicros, CByteArray& answer);
    // After a failed exchange: the error delay, then stale input goes.
    LONG Failed(const CSerialSettings& s, WORD wStatus);
    // The device went away: the port closes so that Connect can reopen it.
    LONG Gone(WORD wStatus);

    const int m_nNumber;
    std::shared_ptr<CPortMap> m_pMap;

    mutable std::mutex m_settingsMutex;
    CSerialSettings m_settings;

    // Held for a whole exchange, and while the line opens or closes.
    std::mutex m_exchangeMutex;
    CSerialLine m_line;
    CRtuParser m_rtuParser;
    CAsciiParser m_asciiParser;
    Clock::time_point m_lastActivity;
    std::atomic<BOOL> m_bActive{FALSE};

    mutable std::mutex m_gatewayMutex;
    CComPtr<CTcpGateway> m_pGateway;
};
