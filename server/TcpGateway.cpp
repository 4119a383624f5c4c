#include "TcpGateway.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "wire/MbapFramer.h"
#include "SerialPort.h"
#include "ServerLog.h"
#include "core/Modbus.h"

namespace {
constexpr size_t MBAP_SIZE = CMbapFramer::HEADER_SIZE;
constexpr BYTE GATEWAY_PATH_UNAVAILABLE = 0x0A;
constexpr BYTE GATEWAY_TARGET_FAILED = 0x0B;
// A client that stops reading must not hold a serving thread for ever.
constexpr int SEND_TIMEOUT_MS = 2000;
constexpr int REAP_INTERVAL_MS = 250;

std::atomic<long long> g_nIdleMillis{CTcpGateway::DEFAULT_IDLE_SECONDS * 1000LL};
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

HRESULT CTcpGateway::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IModbusTcpServer) {
        *ppv = static_cast<IModbusTcpServer*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CTcpGateway::AddRef() {
    return ++m_nRefs;
}

ULONG CTcpGateway::Release() {
    const ULONG nRefs = --m_nRefs;
    if (nRefs == 0) {
        delete this;
    }
    return nRefs;
}

HRESULT CTcpGateway::GetTypeInfoCount(UINT*) {
    return E_NOTIMPL;
}

HRESULT CTcpGateway::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}

HRESULT CTcpGateway::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

HRESULT CTcpGateway::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
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
    if (pVal == nullptr) {
        return E_POINTER;
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    *pVal = m_nPort;
    return S_OK;
}

HRESULT CTcpGateway::put_Port(SHORT newVal) {
    std::lock_guard<std::mutex> guard(m_mutex);
    // Ports above 32767 arrive as negative 16-bit values.
    m_nPort = static_cast<WORD>(newVal);
    return S_OK;
}

HRESULT CTcpGateway::Start(VARIANT_BOOL* pResult) {
    const BOOL bRunning = StartListening();
    if (pResult != nullptr) {
        *pResult = bRunning ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return S_OK;
}

HRESULT CTcpGateway::Stop(VARIANT_BOOL* pResult) {
    StopListening();
    if (pResult != nullptr) {
        *pResult = VARIANT_TRUE;
    }
    return S_OK;
}

HRESULT CTcpGateway::get_Running(VARIANT_BOOL* pVal) {
    if (pVal == nullptr) {
        return E_POINTER;
    }
    *pVal = m_bRunning ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

BOOL CTcpGateway::StartListening() {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_bRunning) {
        return TRUE;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(m_nPort);
    if (::inet_pton(AF_INET, m_strAddress.c_str(), &sa.sin_addr) != 1) {
        return FALSE;
    }
    const CString strWhere = m_strAddress + ":" + std::to_string(m_nPort);
    m_hStopEvent = ::eventfd(0, EFD_CLOEXEC);
    m_hListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    socklen_t len = sizeof sa;
    if (m_hStopEvent < 0 || m_hListen < 0 ||
        ::setsockopt(m_hListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(m_hListen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(m_hListen, 16) != 0 ||
        ::getsockname(m_hListen, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        CServerLog::Error(m_strName + ": cannot listen on " + strWhere + ": " +
                          std::strerror(errno));
        if (m_hListen >= 0) {
            ::close(m_hListen);
        }
        if (m_hStopEvent >= 0) {
            ::close(m_hStopEvent);
        }
        m_hListen = m_hStopEvent = -1;
        return FALSE;
    }
    m_nPort = ntohs(sa.sin_port);
    CServerLog::Info(m_strName + ": listening on " + m_strAddress + ":" + std::to_string(m_nPort));
    m_bRunning = TRUE;
    m_acceptThread = std::thread(&CTcpGateway::AcceptLoop, this);
    return TRUE;
}

void CTcpGateway::StopListening() {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_bRunning) {
        return;
    }
    const ULONGLONG one = 1;
    if (::write(m_hStopEvent, &one, sizeof one) != sizeof one) {
        CServerLog::Error(m_strName + ": cannot signal the serving threads");
    }
    m_acceptThread.join();
    ::close(m_hListen);
    m_hListen = -1;
    m_connections.Reap(true);
    ::close(m_hStopEvent);
    m_hStopEvent = -1;
    m_bRunning = FALSE;
    CServerLog::Info(m_strName + ": stopped");
}

void CTcpGateway::AcceptLoop() {
    for (;;) {
        pollfd pfds[2] = {{m_hStopEvent, POLLIN, 0}, {m_hListen, POLLIN, 0}};
        const int rc = ::poll(pfds, 2, REAP_INTERVAL_MS);
        if (rc < 0 && errno != EINTR) {
            CServerLog::Error(m_strName + ": poll: " + std::strerror(errno));
            return;
        }
        if (pfds[0].revents != 0) {
            return;
        }
        m_connections.Reap(false);
        const size_t nBefore = m_connections.GetCount();
        size_t nLive = m_connections.DropIdle(GetIdleTimeout(), false);
        if (nLive < nBefore) {
            CServerLog::Debug(m_strName + ": idle clients disconnected");
        }
        if (rc <= 0 || (pfds[1].revents & POLLIN) == 0) {
            continue;
        }
        const int hSocket = ::accept4(m_hListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (hSocket < 0) {
            continue;
        }
        if (nLive >= MAX_CONNECTIONS &&
            m_connections.DropIdle(std::chrono::milliseconds(0), true) >= MAX_CONNECTIONS) {
            CServerLog::Warn(m_strName + ": a client was turned away: too many connections");
            ::close(hSocket);
            continue;
        }
        int one = 1;
        ::setsockopt(hSocket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval tv{SEND_TIMEOUT_MS / 1000, (SEND_TIMEOUT_MS % 1000) * 1000};
        ::setsockopt(hSocket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        m_connections.Start(hSocket, 0, [this](CConnection& connection) { Serve(&connection); });
        CServerLog::Debug(m_strName + ": client connected");
    }
}

void CTcpGateway::Serve(CConnection* pConnection) {
    const int hSocket = pConnection->m_hSocket;
    CMbapFramer framer;
    const auto end = framer.Serve(hSocket, m_hStopEvent, [&](const BYTE* pbFrame, size_t nFrame) {
        pConnection->m_bBusy = true;
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
    const bool bException =
        (static_cast<DWORD>(nStatus) & 0xFFFFFF00) == DWORD(MODBUS_SERVER_STATUS_BASE) + 0x8000;
    if ((nStatus == 0 || bException) && answer.size() >= 2) {
        pdu.assign(answer.begin() + 1, answer.end());
    } else {
        const WORD wStatus = static_cast<WORD>(nStatus - MODBUS_SERVER_STATUS_BASE);
        const bool bPathDown = wStatus == MODBUS_PORT_NOT_OPENED || wStatus == MODBUS_WRITE_ERROR ||
                               wStatus == MODBUS_READ_ERROR;
        pdu = {static_cast<BYTE>(pbAdu[1] | 0x80),
               bPathDown ? GATEWAY_PATH_UNAVAILABLE : GATEWAY_TARGET_FAILED};
    }
    const CByteArray out = CMbapFramer::Answer(pbFrame, pbAdu[0], pdu);
    return CMbapFramer::Send(hSocket, out.data(), out.size());
}
