#include "RemoteModbus.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "core/Traffic.h"
#include "platform/Archive.h"
#include "platform/Text.h"

IMPLEMENT_DYNAMIC(CRemoteModbus, CModbus)

namespace {
SOCKADDR_IN UnconnectedAddress(WORD nPort) {
    SOCKADDR_IN sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(nPort);
    sa.sin_addr.s_addr = INADDR_NONE;
    return sa;
}

CString NoAnswerWithin(int nMillis) {
    return "no answer within " + std::to_string(nMillis) + " ms";
}

// A system's message as the rest of a sentence: "Connection refused" becomes
// "connection refused".
CString Lowered(const char* pszText) {
    CString str = pszText != nullptr ? pszText : "";
    if (!str.empty()) {
        str[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(str[0])));
    }
    return str;
}

// The host as the user typed it, without the blanks around it, and the port.
CString HostAndPort(const CString& strHost, WORD nPort) {
    return Trim(strHost, ETrim::BLANKS) + ":" + std::to_string(nPort);
}

// What a failed lookup, connection or transfer means to the user, led by the
// host (and the port, once a connection was tried).
CString CauseText(const CBlockingSocketException& e, const CString& strHost, WORD nPort,
                  int nTimeout) {
    const int nError = e.m_nSocketError;
    if (e.m_bLookup) {
        const CString strWhere = Trim(strHost, ETrim::BLANKS) + ": ";
        if (nError == 0 || nError == EAI_NONAME || nError == EAI_NODATA) {
            return strWhere + "host name not found";
        }
        return strWhere + Lowered(nError < 0 ? ::gai_strerror(nError) : std::strerror(nError));
    }
    const CString strWhere = HostAndPort(strHost, nPort) + ": ";
    if (!e.m_strDetail.empty()) {
        return strWhere + e.m_strDetail;
    }
    if (e.m_bTimedOut || nError == ETIMEDOUT) {
        return strWhere + NoAnswerWithin(nTimeout);
    }
    if (nError == 0) {
        return strWhere + Lowered(e.m_strOperation.c_str()) + " failed";
    }
    return strWhere + Lowered(std::strerror(nError));
}
}  // namespace

CRemoteModbus::CRemoteModbus()
    : m_addrPeer(UnconnectedAddress(502)),
      m_addrLocal(UnconnectedAddress(502)),
      m_rxBuffer(BUFFER_SIZE, 0),
      m_txBuffer(BUFFER_SIZE, 0) {}

CRemoteModbus::~CRemoteModbus() {
    // A derived master has closed its own stream by now; this closes the
    // socket.
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

CDeadline CRemoteModbus::Deadline() const {
    return CDeadline::AfterMillis(EffectiveTimeout());
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

void CRemoteModbus::NoteFailure(const CBlockingSocketException& e) {
    m_strCause = CauseText(e, m_strHost, m_nPort, EffectiveTimeout());
}

CString CRemoteModbus::GetLastCause() {
    CSingleLock lock(&m_lock);
    if (!lock.Lock(m_dwLockTimeout)) {
        return CString();
    }
    return m_strCause;
}

BOOL CRemoteModbus::OpenSocket(const CDeadline& deadline, BOOL bKept) {
    // A socket that a failed exchange or disconnection left open is closed
    // here, never overwritten.
    CloseStream();
    SOCKADDR_IN sa = AddressOf(m_strHost, m_nPort);
    try {
        if (sa.sin_addr.s_addr == INADDR_NONE) {
            sa = GetHostByName(m_strHost.c_str(), m_nPort);
        }
        OpenStream(sa, deadline, bKept);
        m_addrPeer = sa;
        m_strCause.clear();
        return TRUE;
    } catch (CBlockingSocketException* e) {
        NoteFailure(*e);
        e->Delete();
        CloseStream();
        return FALSE;
    }
}

void CRemoteModbus::OpenStream(const SOCKADDR_IN& sa, const CDeadline& deadline, BOOL bKept) {
    m_socket.Create(SOCK_STREAM);
    if (bKept) {
        m_socket.Connect(sa, deadline);
        m_socket.SetNoDelay();
    } else {
        // A connection carries one exchange, so nothing sent is ever waiting
        // for an acknowledgement that the no-delay option would skip.
        m_socket.StartConnect(sa);
    }
}

int CRemoteModbus::SendFrame(const BYTE* pb, int n, const CDeadline& deadline) {
    return m_socket.SendAll(reinterpret_cast<const char*>(pb), n, deadline);
}

int CRemoteModbus::ReceiveSome(BYTE* pb, int n, const CDeadline& deadline) {
    return m_socket.Receive(reinterpret_cast<char*>(pb), n, deadline);
}

void CRemoteModbus::CloseStream() {
    m_socket.CloseQuietly();
}

void CRemoteModbus::AdoptConnection(CRemoteModbus& from) {
    CloseStream();
    std::swap(m_socket, from.m_socket);
    std::swap(m_addrPeer, from.m_addrPeer);
}

CString CRemoteModbus::TrafficLabel() const {
    return "tcp " + m_strHost + ":" + std::to_string(m_nPort);
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
    CloseStream();
    return TRUE;
}

void CRemoteModbus::DropConnection() {
    // A master whose connection is gone says so: its next exchange answers
    // 1004 at once, and its owner can tell that it needs to connect again.
    CloseStream();
    m_addrPeer = UnconnectedAddress(m_nPort);
    m_addrLocal = m_addrPeer;
}

size_t CRemoteModbus::ReceiveAnswer(const CDeadline& deadline) {
    BYTE* buf = m_rxBuffer.data();
    size_t nGot = 0;
    size_t nNeed = HEADER_SIZE;
    for (;;) {
        if (nGot >= HEADER_SIZE) {
            // Only the low byte of the length field counts for the answer.
            nNeed = HEADER_SIZE + m_rxBuffer[5];
        }
        if (nGot >= nNeed) {
            break;
        }
        const int n = ReceiveSome(buf + nGot, static_cast<int>(BUFFER_SIZE - nGot), deadline);
        if (n == 0) {
            return 0;
        }
        nGot += static_cast<size_t>(n);
    }
    // The device sent the whole length, high byte and all; none of it may be
    // read as the start of the next answer. What came beyond it answers no
    // request either: one request is outstanding at a time.
    const size_t nFrame = HEADER_SIZE + ((size_t(m_rxBuffer[4]) << 8) | m_rxBuffer[5]);
    if (nGot < nFrame) {
        Discard(nGot, nFrame, deadline);
    }
    return nNeed;
}

void CRemoteModbus::Discard(size_t nTaken, size_t nFrame, const CDeadline& deadline) {
    // The room behind the answer, which stays as it arrived.
    BYTE* const pScratch = m_rxBuffer.data() + nTaken;
    const size_t nRoom = BUFFER_SIZE - nTaken;
    try {
        while (nTaken < nFrame) {
            const int n =
                ReceiveSome(pScratch, static_cast<int>(std::min(nRoom, nFrame - nTaken)), deadline);
            if (n == 0) {
                DropConnection();
                return;
            }
            nTaken += static_cast<size_t>(n);
        }
    } catch (CBlockingSocketException* e) {
        // The rest never came: the connection cannot be trusted for the next
        // exchange, but the answer itself is whole.
        e->Delete();
        DropConnection();
    }
}

namespace {
// The master whose last exchange on this thread ran out of time: per thread,
// so a write from the window never changes what the poll worker sees.
thread_local const CRemoteModbus* t_pTimedOut = nullptr;
// The time-out that it ran out of.
thread_local int t_nTimedOutMillis = 0;
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
        capture.Report(this, TrafficLabel(), bFramed ? m_txBuffer.data() : request.data(),
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
        Disconnect();
        OpenSocket(deadline, FALSE);
    }
    if (!IsConnected()) {
        m_timer.Stop();
        return REMOTE_NOT_CONNECTED;
    }
    if (FramingBytes() + size_t(dwRequestLength) > m_txBuffer.size() ||
        FramingBytes() + size_t(dwResponseLength) > m_rxBuffer.size() ||
        dwRequestLength > request.size()) {
        m_timer.Stop();
        return REMOTE_BUFFER_OVERFLOW;
    }
    *pnFrame = FrameRequest(request, dwRequestLength);
    const WORD wStatus = Exchange(*pnFrame, deadline, pnAnswer);
    m_timer.Stop();
    if (wStatus != MODBUS_OK) {
        *pnAnswer = 0;
        return wStatus;
    }
    if (*pnAnswer == 0) {
        // The peer closed before the answer was complete: nothing more will
        // come on this connection.
        m_strCause = HostAndPort(m_strHost, m_nPort) + ": connection closed by the device";
        DropConnection();
        return REMOTE_READ_ERROR;
    }
    return TakeAnswer(*pnAnswer, response);
}

size_t CRemoteModbus::FrameRequest(const CByteArray& request, DWORD dwRequestLength) {
    // Nothing beyond the bytes written here is sent, and nothing beyond the
    // bytes that arrive is read, so neither buffer needs clearing first.
    std::fill_n(m_txBuffer.begin(), 4, 0);
    m_txBuffer[4] = static_cast<BYTE>(dwRequestLength >> 8);
    m_txBuffer[5] = static_cast<BYTE>(dwRequestLength);
    std::copy_n(request.begin(), dwRequestLength, m_txBuffer.begin() + HEADER_SIZE);
    return HEADER_SIZE + dwRequestLength;
}

WORD CRemoteModbus::Exchange(size_t nFrame, const CDeadline& deadline, size_t* pnAnswer) {
    try {
        const int nSent = SendFrame(m_txBuffer.data(), static_cast<int>(nFrame), deadline);
        if (nSent != static_cast<int>(nFrame)) {
            return REMOTE_WRITE_ERROR;
        }
        *pnAnswer = ReceiveAnswer(deadline);
        return MODBUS_OK;
    } catch (CBlockingSocketException* e) {
        // A connection begun for this exchange that failed before its
        // request went out was never made.
        const bool bNeverConnected = m_socket.IsConnecting();
        if (e->m_bTimedOut && !bNeverConnected) {
            t_pTimedOut = this;
            t_nTimedOutMillis = EffectiveTimeout();
        }
        NoteFailure(*e);
        e->Delete();
        DropConnection();
        return bNeverConnected ? REMOTE_NOT_CONNECTED : REMOTE_SOCKET_ERROR;
    }
}

WORD CRemoteModbus::TakeAnswer(size_t nAnswer, CByteArray& response) {
    return TakeUnitAnswer(m_rxBuffer.data() + HEADER_SIZE, nAnswer - HEADER_SIZE, response);
}

WORD CRemoteModbus::TakeUnitAnswer(const BYTE* pb, size_t n, CByteArray& response) const {
    if (n >= 2 && pb[1] > 0x80) {
        BYTE e = n >= 3 ? pb[2] : 0;
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
    response.assign(pb, pb + n);
    return MODBUS_OK;
}

CString CRemoteModbus::GetErrorText(WORD wStatus) {
    switch (wStatus) {
        case REMOTE_BUFFER_OVERFLOW:
            return "Buffer Overflow";
        case REMOTE_SOCKET_ERROR:
            // This thread's exchange that ran out of time says so.
            return LastExchangeTimedOut() ? "Socket Error: " + NoAnswerWithin(t_nTimedOutMillis)
                                          : "Socket Error";
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
    if (!ar.IsStoring()) {
        Load(ar, ELoad::CONNECT);
        return;
    }
    // A derived master's settings too, all of them before it connects.
    WriteSettings(ar);
    Connect(CString(), 0, 0);
}

void CRemoteModbus::WriteSettings(CArchive& ar) {
    CModbus::WriteSettings(ar);
    ar << m_bReconnect << m_strHost << m_nPort << m_dwTimeout << m_bMapServerErrors
       << m_byServerErrorBase;
}

void CRemoteModbus::Load(CArchive& ar, ELoad mode) {
    CModbus::Load(ar, mode);
    ar >> m_bReconnect >> m_strHost >> m_nPort >> m_dwTimeout >> m_bMapServerErrors >>
        m_byServerErrorBase;
    if (mode == ELoad::CONNECT) {
        Connect(CString(), 0, 0);
    }
}
