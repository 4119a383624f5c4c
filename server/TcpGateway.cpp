#include "TcpGateway.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include "SerialPort.h"
#include "ServerLog.h"
#include "core/FunctionCodes.h"
#include "core/Modbus.h"
#include "platform/com/ComBase.h"
#include "wire/MbapFramer.h"

namespace {
constexpr size_t MBAP_SIZE = CMbapFramer::HEADER_SIZE;

// The master's status inside a status of the serial server (an interface
// error from the server's base code on); false for anything else.
bool ServerStatus(LONG nStatus, WORD& wStatus) {
    const int nBase = HRESULT_CODE(MODBUS_SERVER_STATUS_BASE);
    if (!FAILED(nStatus) || HRESULT_FACILITY(nStatus) != FACILITY_ITF ||
        HRESULT_CODE(nStatus) < nBase) {
        return false;
    }
    wStatus = static_cast<WORD>(HRESULT_CODE(nStatus) - nBase);
    return true;
}

std::atomic<long long> g_nIdleMillis{ModbusGateway::DEFAULT_IDLE_SECONDS * 1000LL};
}  // namespace

void CTcpGateway::SetIdleTimeout(std::chrono::milliseconds idle) {
    g_nIdleMillis = idle.count() > 0 ? idle.count() : 0;
}

std::chrono::milliseconds CTcpGateway::GetIdleTimeout() {
    return std::chrono::milliseconds(g_nIdleMillis.load());
}

CTcpGateway::CTcpGateway(std::weak_ptr<CSerialPort> pPort, const CString& strName)
    : m_pPort(std::move(pPort)), m_strName(strName + " gateway") {}

CTcpGateway::~CTcpGateway() {
    StopListening();
}

HRESULT CTcpGateway::get_Address(BSTR* pVal) {
    if (pVal == nullptr) {
        return E_POINTER;
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    *pVal = AllocBstr(m_strAddress);
    return S_OK;
}

HRESULT CTcpGateway::put_Address(BSTR newVal) {
    const CString strAddress = BstrToString(newVal);
    in_addr addr{};
    if (::inet_pton(AF_INET, strAddress.c_str(), &addr) != 1) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    m_strAddress = strAddress;
    return S_OK;
}

HRESULT CTcpGateway::get_Port(LONG* pVal) {
    std::lock_guard<std::mutex> guard(m_mutex);
    return ReturnValue(pVal, m_nPort);
}

HRESULT CTcpGateway::put_Port(SHORT newVal) {
    std::lock_guard<std::mutex> guard(m_mutex);
    // Ports above 32767 arrive as negative 16-bit values.
    m_nPort = static_cast<WORD>(newVal);
    return S_OK;
}

HRESULT CTcpGateway::Start(VARIANT_BOOL* pResult) {
    return ReturnResult(pResult, StartListening() != FALSE);
}

HRESULT CTcpGateway::Stop(VARIANT_BOOL* pResult) {
    StopListening();
    return ReturnResult(pResult, true);
}

HRESULT CTcpGateway::get_Running(VARIANT_BOOL* pVal) {
    return ReturnValue(pVal, m_bRunning ? VARIANT_TRUE : VARIANT_FALSE);
}

BOOL CTcpGateway::StartListening() {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_bRunning) {
        return TRUE;
    }
    CTcpListener::CHooks hooks;
    hooks.onTick = [this](CConnectionThreads& connections) { DropIdle(connections); };
    hooks.admit = [this](CConnectionThreads& connections, ULONGLONG, const CString&) {
        return Admit(connections);
    };
    hooks.serve = [this](CConnection& connection) { Serve(&connection); };
    if (!m_listener.Start(m_strAddress, m_nPort, std::move(hooks))) {
        CServerLog::Error(m_strName + ": cannot listen on " + m_strAddress + ":" +
                          std::to_string(m_nPort) + ": " + m_listener.GetError());
        return FALSE;
    }
    m_nPort = m_listener.GetPort();
    CServerLog::Info(m_strName + ": listening on " + m_strAddress + ":" + std::to_string(m_nPort));
    m_bRunning = TRUE;
    return TRUE;
}

void CTcpGateway::StopListening() {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_bRunning) {
        return;
    }
    if (!m_listener.Stop()) {
        CServerLog::Error(m_strName + ": cannot signal the serving threads");
    }
    m_bRunning = FALSE;
    CServerLog::Info(m_strName + ": stopped");
}

void CTcpGateway::DropIdle(CConnectionThreads& connections) {
    const size_t nBefore = connections.GetCount();
    m_nLive = connections.DropIdle(GetIdleTimeout(), false);
    if (m_nLive < nBefore) {
        CServerLog::Debug(m_strName + ": idle clients disconnected");
    }
}

bool CTcpGateway::Admit(CConnectionThreads& connections) {
    // Counted afresh: the count of the last tick still holds the places of
    // clients dropped since, and making room for a newcomer that has one
    // would drop a client for nothing, in the end a master that polls.
    m_nLive = connections.DropIdle(std::chrono::milliseconds(0), false);
    if (m_nLive >= MAX_CONNECTIONS &&
        connections.DropIdle(std::chrono::milliseconds(0), true) >= MAX_CONNECTIONS) {
        CServerLog::Warn(m_strName + ": a client was turned away: too many connections");
        return false;
    }
    CServerLog::Debug(m_strName + ": client connected");
    return true;
}

void CTcpGateway::Serve(CConnection* pConnection) {
    const int hSocket = pConnection->m_hSocket;
    CMbapFramer framer;
    const auto end = framer.Serve(
        hSocket, m_listener.GetStopEvent().Get(), [&](const BYTE* pbFrame, size_t nFrame) {
            pConnection->m_bBusy = true;
            pConnection->m_bSpoken = true;
            const bool bGoOn = HandleRequest(hSocket, pbFrame, nFrame);
            pConnection->m_lastActive = std::chrono::steady_clock::now().time_since_epoch().count();
            pConnection->m_bBusy = false;
            return bGoOn;
        });
    if (end == CMbapFramer::EEnd::Malformed) {
        CServerLog::Warn(m_strName + ": malformed request header; closing the connection");
    }
    // The descriptor is closed once this thread is joined, so that its
    // number cannot be reused meanwhile.
    ::shutdown(hSocket, SHUT_RDWR);
}

bool CTcpGateway::HandleRequest(int hSocket, const BYTE* pbFrame, size_t nFrame) {
    const BYTE* pbAdu = pbFrame + MBAP_SIZE - 1;  // unit id, then the PDU
    const size_t nAdu = nFrame - (MBAP_SIZE - 1);
    CByteArray answer;
    LONG nStatus = MODBUS_SERVER_STATUS_BASE + MODBUS_PORT_NOT_OPENED;
    if (std::shared_ptr<CSerialPort> pPort = m_pPort.lock()) {
        nStatus = pPort->Exchange(pbAdu, nAdu, answer);
    }
    if (pbAdu[0] == 0 && nStatus == 0) {
        return true;  // a broadcast: nobody answers
    }
    CByteArray pdu;
    WORD wStatus = 0;
    const bool bException =
        ServerStatus(nStatus, wStatus) && (wStatus & 0xFF00) == MODBUS_EXCEPTION_BASE;
    if ((nStatus == 0 || bException) && answer.size() >= 2) {
        pdu.assign(answer.begin() + 1, answer.end());
    } else {
        const bool bPathDown = wStatus == MODBUS_PORT_NOT_OPENED || wStatus == MODBUS_WRITE_ERROR ||
                               wStatus == MODBUS_READ_ERROR;
        pdu = {static_cast<BYTE>(pbAdu[1] | ModbusFunction::EXCEPTION_FLAG),
               bPathDown ? ModbusExceptionCode::GATEWAY_PATH_UNAVAILABLE
                         : ModbusExceptionCode::GATEWAY_TARGET_FAILED};
    }
    const CByteArray out = CMbapFramer::Answer(pbFrame, pbAdu[0], pdu);
    return CMbapFramer::Send(hSocket, out.data(), out.size());
}
