#include "SerialPort.h"

#include <algorithm>
#include <thread>

#include "ServerLog.h"
#include "TcpGateway.h"
#include "ThreadScheduling.h"
#include "core/FunctionCodes.h"
#include "core/Modbus.h"
#include "platform/Deadline.h"
#include "serialapi/ModbusSerialServer.h"
#include "wire/AsciiFrame.h"
#include "wire/RtuFrame.h"

namespace {
LONG Status(WORD wStatus) {
    return MODBUS_SERVER_STATUS_BASE + wStatus;
}
}  // namespace

CSerialPort::CSerialPort(int nNumber, std::shared_ptr<CPortMap> pMap)
    : m_nNumber(nNumber), m_pMap(std::move(pMap)) {}

CSerialPort::~CSerialPort() {
    {
        CComPtr<CTcpGateway> pGateway;
        {
            std::lock_guard<std::mutex> guard(m_gatewayMutex);
            pGateway = std::move(m_pGateway);
        }
        if (pGateway != nullptr) {
            pGateway->StopListening();
        }
    }
    Close();
}

CSerialSettings CSerialPort::GetSettings() const {
    std::lock_guard<std::mutex> guard(m_settingsMutex);
    return m_settings;
}

BOOL CSerialPort::Connect(int* pnError) {
    const CSerialSettings s = GetSettings();
    const CString strPath = m_pMap->GetPath(m_nNumber);
    std::lock_guard<std::mutex> guard(m_exchangeMutex);
    m_line.Close();
    m_bActive = FALSE;
    const BOOL bOpen = m_line.Open(strPath, s);
    for (const CString& strWarning : m_line.GetWarnings()) {
        CServerLog::Warn(GetName() + ": " + strWarning);
    }
    if (!bOpen) {
        CServerLog::Error(GetName() + ": " + m_line.GetError());
        if (pnError != nullptr) {
            *pnError = m_line.GetErrno();
        }
        return FALSE;
    }
    CServerLog::Info(GetName() + ": " + strPath + " open at " + std::to_string(s.m_nBaudRate) +
                     " bit/s, " + (s.m_nMode == CSerialSettings::MODE_RTU ? "RTU" : "ASCII"));
    m_lastActivity = Clock::now();
    m_bActive = TRUE;
    return TRUE;
}

void CSerialPort::Close() {
    std::lock_guard<std::mutex> guard(m_exchangeMutex);
    m_line.Close();
    m_bActive = FALSE;
}

LONG CSerialPort::Exchange(const BYTE* pbRequest, size_t nRequest, CByteArray& answer) {
    answer.clear();
    const CSerialSettings s = GetSettings();
    unsigned long long nRunDelay = 0;
    const bool bWatched = CThreadScheduling::BeforeExchange(&nRunDelay);
    LONG nStatus;
    {
        std::lock_guard<std::mutex> guard(m_exchangeMutex);
        if (!m_line.IsOpen()) {
            return Status(MODBUS_PORT_NOT_OPENED);
        }
        nStatus = ExchangeLocked(s, pbRequest, nRequest, answer);
        m_lastActivity = Clock::now();
    }
    if (bWatched) {
        CThreadScheduling::AfterExchange(nRunDelay);
    }
    return nStatus;
}

LONG CSerialPort::ExchangeLocked(const CSerialSettings& s, const BYTE* pbRequest, size_t nRequest,
                                 CByteArray& answer) {
    LONGLONG nSendMicros = 0;
    const LONG nStatus = SendRequest(s, pbRequest, nRequest, nSendMicros);
    if (nStatus != 0) {
        return nStatus;
    }
    if (pbRequest[0] == 0) {
        // A broadcast: nobody answers, and the next frame waits for the gap.
        std::this_thread::sleep_for(std::chrono::microseconds(nSendMicros + s.GapMicros()));
        return 0;
    }
    return ReceiveAnswer(s, pbRequest, nRequest, nSendMicros, answer);
}

LONG CSerialPort::SendRequest(const CSerialSettings& s, const BYTE* pbRequest, size_t nRequest,
                              LONGLONG& nSendMicros) {
    const bool bRtu = s.m_nMode == CSerialSettings::MODE_RTU;
    if (bRtu) {
        // Frames are told apart by the silence between them.
        std::this_thread::sleep_until(m_lastActivity + std::chrono::microseconds(s.GapMicros()));
    }
    m_line.FlushInput();
    const CByteArray frame =
        bRtu ? CRtuFrame::Encode(pbRequest, nRequest) : CAsciiFrame::Encode(pbRequest, nRequest);
    nSendMicros = s.TransmitMicros(frame.size());
    const int nWriteMillis = int(2 * nSendMicros / 1000) + s.m_nTimeout;
    const CSerialLine::EResult written = m_line.Write(frame.data(), frame.size(), nWriteMillis);
    if (written == CSerialLine::EResult::GONE) {
        return Gone(MODBUS_WRITE_ERROR);
    }
    if (written != CSerialLine::EResult::OK) {
        CServerLog::Warn(GetName() + ": the request could not be sent");
        return Failed(s, MODBUS_WRITE_ERROR);
    }
    return 0;
}

LONG CSerialPort::ReceiveAnswer(const CSerialSettings& s, const BYTE* pbRequest, size_t nRequest,
                                LONGLONG nSendMicros, CByteArray& answer) {
    const bool bRtu = s.m_nMode == CSerialSettings::MODE_RTU;
    const LONGLONG nGapMicros = s.GapMicros();
    CFrameParser& parser = bRtu ? static_cast<CFrameParser&>(m_rtuParser) : m_asciiParser;
    parser.ExpectAnswerTo(pbRequest, nRequest);
    // The time-out runs from the moment the request has left the line.
    const CDeadline deadline = CDeadline::After(std::chrono::microseconds(nSendMicros) +
                                                std::chrono::milliseconds(s.m_nTimeout));
    CFrameParser::EState state = CFrameParser::EState::NEED_MORE;
    BYTE buffer[512];
    while (state == CFrameParser::EState::NEED_MORE) {
        const LONGLONG nLeft =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline.Left()).count();
        const bool bFraming = bRtu && parser.HasStarted();
        if (nLeft <= 0) {
            if (!bFraming) {
                return Failed(s, MODBUS_TIMEOUT);
            }
            state = parser.EndOfFrame();
            break;
        }
        size_t nRead = 0;
        const CSerialLine::EResult got = m_line.Read(
            buffer, sizeof buffer, bFraming ? std::min(nLeft, nGapMicros) : nLeft, &nRead);
        if (got == CSerialLine::EResult::GONE) {
            return Gone(MODBUS_READ_ERROR);
        }
        if (got == CSerialLine::EResult::FAILED) {
            return Failed(s, MODBUS_READ_ERROR);
        }
        if (got == CSerialLine::EResult::TIMEOUT) {
            if (bFraming) {
                state = parser.EndOfFrame();
            }
            continue;
        }
        state = parser.Feed(buffer, nRead, nullptr);
    }
    if (state != CFrameParser::EState::COMPLETE) {
        CServerLog::Debug(GetName() + ": answer failed its checksum or framing");
        return Failed(s, MODBUS_CRC_ERROR);
    }
    answer = parser.GetFrame();
    if (answer.size() >= 3 && (answer[1] & ModbusFunction::EXCEPTION_FLAG) != 0) {
        return Status(static_cast<WORD>(MODBUS_EXCEPTION_BASE + answer[2]));
    }
    return 0;
}

LONG CSerialPort::Failed(const CSerialSettings& s, WORD wStatus) {
    std::this_thread::sleep_for(std::chrono::milliseconds(s.m_nErrorDelay));
    m_line.FlushInput();
    return Status(wStatus);
}

LONG CSerialPort::Gone(WORD wStatus) {
    CServerLog::Warn(GetName() + ": " + m_line.GetPath() + " went away; the port is closed");
    m_line.Close();
    m_bActive = FALSE;
    return Status(wStatus);
}

HRESULT CSerialPort::GetGateway(IDispatch** ppGateway) {
    if (ppGateway == nullptr) {
        return E_POINTER;
    }
    std::lock_guard<std::mutex> guard(m_gatewayMutex);
    if (m_pGateway == nullptr) {
        m_pGateway.Attach(new CTcpGateway(weak_from_this(), GetName()));
    }
    *ppGateway = CComPtr<CTcpGateway>(m_pGateway).Detach();
    return S_OK;
}

BOOL CSerialPort::IsGatewayRunning() const {
    std::lock_guard<std::mutex> guard(m_gatewayMutex);
    return m_pGateway != nullptr && m_pGateway->IsRunning();
}

void CSerialPort::StopGateway() {
    CComPtr<CTcpGateway> pGateway;
    {
        std::lock_guard<std::mutex> guard(m_gatewayMutex);
        pGateway = m_pGateway;
    }
    if (pGateway != nullptr) {
        pGateway->StopListening();
    }
}
