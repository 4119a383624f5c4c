#include "RemoteModbus.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "core/Traffic.h"
#include "platform/Archive.h"

IMPLEMENT_DYNAMIC(CRemoteModbus, CModbus)

namespace {
SOCKADDR_IN UnconnectedAddress(WORD nPort) {
    SOCKADDR_IN sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(nPort);
    sa.sin_addr.s_addr = INADDR_NONE;
    return sa;
}
}  // namespace

CRemoteModbus::CRemoteModbus()
    : m_addrPeer(UnconnectedAddress(502)),
      m_addrLocal(UnconnectedAddress(502)),
      m_rxBuffer(BUFFER_SIZE, 0),
      m_txBuffer(BUFFER_SIZE, 0) {}

CRemoteModbus::~CRemoteModbus() {
    Disconnect();
    m_socket.CloseQuietly();
}

int CRemoteModbus::EffectiveTimeout() const {
    DWORD dw = m_dwTimeout != 0 ? m_dwTimeout : DEFAULT_TIMEOUT;
    return static_cast<int>(std::min<DWORD>(dw, INT_MAX));
}

SOCKADDR_IN CRemoteModbus::AddressOf(const CString& strHost, WORD nPort) const {
    SOCKADDR_IN sa = UnconnectedAddress(nPort);
    sa.sin_addr.s_addr = ::inet_addr(strHost.c_str());
    return sa;
}

BOOL CRemoteModbus::IsConnected() {
    return ntohl(m_addrPeer.sin_addr.s_addr) != INADDR_NONE;
}

CRemoteModbus::Clock::time_point CRemoteModbus::Deadline() const {
    return Clock::now() + std::chrono::milliseconds(EffectiveTimeout());
}

int CRemoteModbus::MillisLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

BOOL CRemoteModbus::Connect(const CString& strHost, WORD nPort, DWORD dwTimeout) {
    // Held from the disconnection to the new socket: another thread's exchange
    // never runs on a socket that is being closed or replaced.
    CSingleLock lock(&m_lock);
    lock.Lock(m_dwLockTimeout);
    CString host = strHost.empty() ? m_strHost : strHost;
    if (nPort == 0) {
        nPort = m_nPort;
    }
    if (dwTimeout == 0) {
        dwTimeout = m_dwTimeout;
    }
    Disconnect();
    m_dwTimeout = dwTimeout;
    m_strHost = host;
    m_nPort = nPort;
    return OpenSocket(Deadline(), TRUE);
}

BOOL CRemoteModbus::OpenSocket(Clock::time_point deadline, BOOL bNoDelay) {
    // A socket that a failed exchange or disconnection left open is closed
    // here, never overwritten.
    m_socket.CloseQuietly();
    m_nPending = 0;
    SOCKADDR_IN sa = AddressOf(m_strHost, m_nPort);
    try {
        m_socket.Create(SOCK_STREAM);
        if (sa.sin_addr.s_addr == INADDR_NONE) {
            sa = GetHostByName(m_strHost.c_str(), m_nPort);
        }
        m_socket.Connect(sa, MillisLeft(deadline));
        if (bNoDelay) {
            m_socket.SetNoDelay();
        }
        m_addrPeer = sa;
        return TRUE;
    } catch (CBlockingSocketException* e) {
        e->Delete();
        m_socket.CloseQuietly();
        return FALSE;
    }
}

BOOL CRemoteModbus::Disconnect() {
    CSingleLock lock(&m_lock);
    lock.Lock(m_dwLockTimeout);
    if (!IsConnected()) {
        return TRUE;
    }
    // Whatever the host was, a disconnected master no longer reports itself
    // connected; its next exchange answers 1004 instead of failing on a closed
    // socket.
    m_addrPeer = UnconnectedAddress(m_nPort);
    m_addrLocal = m_addrPeer;
    m_nPending = 0;
    try {
        m_socket.Close();
    } catch (CBlockingSocketException* e) {
        e->Delete();
        m_socket.CloseQuietly();
        return FALSE;
    }
    return TRUE;
}

void CRemoteModbus::DropConnection() {
    // A master whose connection is gone says so: its next exchange answers
    // 1004 at once, and its owner can tell that it needs to connect again.
    m_socket.CloseQuietly();
    m_addrPeer = UnconnectedAddress(m_nPort);
    m_addrLocal = m_addrPeer;
    m_nPending = 0;
}

size_t CRemoteModbus::ReceiveAnswer(Clock::time_point deadline) {
    size_t nGot = m_nPending;
    m_nPending = 0;
    size_t nNeed = HEADER_SIZE;
    char* buf = reinterpret_cast<char*>(m_rxBuffer.data());
    for (;;) {
        if (nGot >= HEADER_SIZE) {
            // Only the low byte of the length field counts.
            nNeed = HEADER_SIZE + m_rxBuffer[5];
        }
        if (nGot >= nNeed) {
            break;
        }
        int n = m_socket.Receive(buf + nGot, static_cast<int>(BUFFER_SIZE - nGot), deadline);
        if (n == 0) {
            return 0;
        }
        nGot += static_cast<size_t>(n);
    }
    // Whatever came beyond this answer belongs to the next one.
    m_nPendingStart = nNeed;
    m_nPending = nGot - nNeed;
    return nNeed;
}

namespace {
// The master whose last exchange on this thread ran out of time: per thread,
// so a write from the window never changes what the poll worker sees.
thread_local const CRemoteModbus* t_pTimedOut = nullptr;

bool IsTimeout(CBlockingSocketException* e) {
    char sz[128] = "";
    e->GetErrorMessage(sz, sizeof sz);
    return e->m_nSocketError == ETIMEDOUT || std::strstr(sz, "timeout") != nullptr;
}
}  // namespace

BOOL CRemoteModbus::LastExchangeTimedOut() {
    return t_pTimedOut == this;
}

WORD CRemoteModbus::Transact(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                             DWORD dwResponseLength, BOOL) {
    // One lock over reconnection, send and receive: two threads sharing the
    // master never interleave frames, and neither closes the other's socket.
    t_pTimedOut = nullptr;
    CSingleLock lock(&m_lock);
    if (!lock.Lock(m_dwLockTimeout)) {
        return MODBUS_LOCK_TIMEOUT;
    }
    const Traffic::CCapture capture;
    size_t nFrame = 0;
    size_t nAnswer = 0;
    const WORD wStatus =
        TransactLocked(request, dwRequestLength, response, dwResponseLength, &nFrame, &nAnswer);
    if (capture) {
        // The frame as sent, header and all; a request never framed (no
        // connection, too long) as the bytes the master handed over.
        const bool bFramed = nFrame > 0;
        capture.Report(this, "tcp " + m_strHost + ":" + std::to_string(m_nPort),
                       bFramed ? m_txBuffer.data() : request.data(),
                       bFramed ? nFrame : std::min<size_t>(dwRequestLength, request.size()),
                       m_rxBuffer.data(), nAnswer, wStatus, GetErrorText(wStatus));
    }
    return wStatus;
}

WORD CRemoteModbus::TransactLocked(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                                   DWORD dwResponseLength, size_t* pnFrame, size_t* pnAnswer) {
    // Stamped under the lock: two threads' exchanges never mix their stamps.
    m_timer.Start();
    // One deadline for the whole exchange, a reconnection included.
    const auto deadline = Deadline();
    if (m_bReconnect) {
        // A connection carries one exchange, so nothing sent is ever waiting
        // for an acknowledgement that the no-delay option would skip.
        Disconnect();
        OpenSocket(deadline, FALSE);
    }
    if (!IsConnected()) {
        m_timer.Stop();
        return REMOTE_NOT_CONNECTED;
    }
    if (HEADER_SIZE + size_t(dwRequestLength) > m_txBuffer.size() ||
        HEADER_SIZE + size_t(dwResponseLength) > m_rxBuffer.size() ||
        dwRequestLength > request.size()) {
        m_timer.Stop();
        return REMOTE_BUFFER_OVERFLOW;
    }
    FrameRequest(request, dwRequestLength);
    *pnFrame = HEADER_SIZE + dwRequestLength;
    const WORD wStatus = Exchange(dwRequestLength, deadline, pnAnswer);
    m_timer.Stop();
    if (wStatus != MODBUS_OK) {
        *pnAnswer = 0;
        return wStatus;
    }
    if (*pnAnswer == 0) {
        // The peer closed before the answer was complete: nothing more will
        // come on this connection.
        DropConnection();
        return REMOTE_READ_ERROR;
    }
    return TakeAnswer(*pnAnswer, response);
}

void CRemoteModbus::FrameRequest(const CByteArray& request, DWORD dwRequestLength) {
    if (m_nPending > 0) {
        std::memmove(m_rxBuffer.data(), m_rxBuffer.data() + m_nPendingStart, m_nPending);
    }
    // Nothing beyond the bytes written here is sent, and nothing beyond the
    // bytes that arrive is read, so neither buffer needs clearing first.
    std::fill_n(m_txBuffer.begin(), 4, 0);
    m_txBuffer[4] = static_cast<BYTE>(dwRequestLength >> 8);
    m_txBuffer[5] = static_cast<BYTE>(dwRequestLength);
    std::copy_n(request.begin(), dwRequestLength, m_txBuffer.begin() + HEADER_SIZE);
}

WORD CRemoteModbus::Exchange(DWORD dwRequestLength, Clock::time_point deadline, size_t* pnAnswer) {
    try {
        const int nFrame = static_cast<int>(HEADER_SIZE + dwRequestLength);
        const int nSent =
            m_socket.SendAll(reinterpret_cast<const char*>(m_txBuffer.data()), nFrame, deadline);
        if (nSent != nFrame) {
            return REMOTE_WRITE_ERROR;
        }
        *pnAnswer = ReceiveAnswer(deadline);
        return MODBUS_OK;
    } catch (CBlockingSocketException* e) {
        if (IsTimeout(e)) {
            t_pTimedOut = this;
        }
        e->Delete();
        DropConnection();
        return REMOTE_SOCKET_ERROR;
    }
}

WORD CRemoteModbus::TakeAnswer(size_t nAnswer, CByteArray& response) {
    const size_t n = nAnswer - HEADER_SIZE;
    if (n >= 2 && m_rxBuffer[7] > 0x80) {
        BYTE e = n >= 3 ? m_rxBuffer[8] : 0;
        if (m_bMapServerErrors && e >= m_byServerErrorBase) {
            WORD wStatus = static_cast<WORD>(e - m_byServerErrorBase);
            if (wStatus == 0) {
                // Mapped to "success" but nothing arrived to read.
                response.clear();
            }
            return wStatus;
        }
        return static_cast<WORD>(MODBUS_EXCEPTION_BASE + e);
    }
    // Exactly what arrived; the master refuses an answer shorter than it needs.
    response.assign(m_rxBuffer.begin() + HEADER_SIZE, m_rxBuffer.begin() + nAnswer);
    return MODBUS_OK;
}

CString CRemoteModbus::GetErrorText(WORD wStatus) {
    switch (wStatus) {
        case REMOTE_BUFFER_OVERFLOW:
            return "Buffer Overflow";
        case REMOTE_SOCKET_ERROR:
            return "Socket Error";
        case REMOTE_WRITE_ERROR:
            return "Write Socket Error";
        case REMOTE_READ_ERROR:
            return "Read Socket Error";
        case REMOTE_NOT_CONNECTED:
            return "Socket not connected";
        default:
            return CModbus::GetErrorText(wStatus);
    }
}

void CRemoteModbus::Serialize(CArchive& ar) {
    CModbus::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_bReconnect << m_strHost << m_nPort << m_dwTimeout << m_bMapServerErrors
           << m_byServerErrorBase;
    } else {
        ar >> m_bReconnect >> m_strHost >> m_nPort >> m_dwTimeout >> m_bMapServerErrors >>
            m_byServerErrorBase;
        if (m_bLoadOnly) {
            return;
        }
    }
    Connect(CString(), 0, 0);
}
