#include "RpcSocket.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "RpcFrame.h"
#include "RpcFrameReader.h"

namespace {
using Clock = std::chrono::steady_clock;

// Bytes asked of each recv beyond the frame being read: room for the frames
// that usually follow it.
constexpr size_t kReadAhead = 4096;

// Milliseconds until the deadline for poll(): -1 without one, 0 when past.
int PollWait(bool bLimited, Clock::time_point deadline) {
    if (!bLimited) {
        return -1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for the events; false on time-out or a failed poll.
bool WaitFor(int hSocket, short events, bool bLimited, Clock::time_point deadline) {
    for (;;) {
        pollfd p{hSocket, events, 0};
        int rc = ::poll(&p, 1, PollWait(bLimited, deadline));
        if (rc > 0) {
            return true;
        }
        if (rc == 0 || errno != EINTR) {
            return false;
        }
    }
}
}  // namespace

CRpcSocket& CRpcSocket::operator=(CRpcSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_hSocket = other.m_hSocket;
        m_pTls = std::move(other.m_pTls);
        m_input = std::move(other.m_input);
        other.m_hSocket = -1;
        other.m_input.clear();
    }
    return *this;
}

void CRpcSocket::Close() {
    m_pTls.reset();
    if (m_hSocket >= 0) {
        ::close(m_hSocket);
        m_hSocket = -1;
    }
    m_input.clear();
}

void CRpcSocket::Shutdown() {
    if (m_hSocket >= 0) {
        ::shutdown(m_hSocket, SHUT_RDWR);
    }
}

ssize_t CRpcSocket::Receive(BYTE* pb, size_t n, short* pEvents) {
    if (m_pTls != nullptr) {
        return m_pTls->Read(pb, n, pEvents);
    }
    *pEvents = POLLIN;
    const ssize_t rc = ::recv(m_hSocket, pb, n, MSG_DONTWAIT);
    if (rc < 0) {
        return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
    }
    return rc;
}

ssize_t CRpcSocket::Send(const BYTE* pb, size_t n, short* pEvents) {
    if (m_pTls != nullptr) {
        return m_pTls->Write(pb, n, pEvents);
    }
    *pEvents = POLLOUT;
    const ssize_t rc = ::send(m_hSocket, pb, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (rc < 0) {
        return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
    }
    return rc;
}

bool CRpcSocket::SendAll(const BYTE* pb, size_t n, int nMillis) {
    auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
    size_t nSent = 0;
    while (nSent < n) {
        short events = POLLOUT;
        const ssize_t rc = Send(pb + nSent, n - nSent, &events);
        if (rc > 0) {
            nSent += size_t(rc);
            continue;
        }
        if (rc < 0 && WaitFor(m_hSocket, events, nMillis >= 0, deadline)) {
            continue;
        }
        return false;
    }
    return true;
}

bool CRpcSocket::SendFrame(CRpcFrameWriter& frame, int nMillis) {
    return frame.Seal() && SendAll(frame.GetBytes().data(), frame.GetBytes().size(), nMillis);
}

bool CRpcSocket::Fill(size_t n, bool bLimited, Clock::time_point deadline, bool* pbClosed) {
    *pbClosed = false;
    // TLS may hold bytes already taken off the socket, so it is asked before
    // waiting; a plain socket is waited for first, which saves a call.
    const bool bTls = m_pTls != nullptr;
    while (m_input.size() < n) {
        if (!bTls && !WaitFor(m_hSocket, POLLIN, bLimited, deadline)) {
            return false;
        }
        const size_t nHave = m_input.size();
        m_input.resize(std::max(n, nHave + kReadAhead));
        short events = POLLIN;
        const ssize_t rc = Receive(m_input.data() + nHave, m_input.size() - nHave, &events);
        m_input.resize(nHave + (rc > 0 ? size_t(rc) : 0));
        if (rc == 0) {
            *pbClosed = true;
            return false;
        }
        if (rc < 0 && bTls && !WaitFor(m_hSocket, events, bLimited, deadline)) {
            return false;
        }
    }
    return true;
}

CRpcSocket::EReceive CRpcSocket::ReceiveFrame(std::vector<BYTE>& body, int nMillis) {
    const bool bLimited = nMillis >= 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(bLimited ? nMillis : 0);
    bool bClosed = false;
    if (!Fill(RPC_FRAME_HEADER, bLimited, deadline, &bClosed)) {
        return bClosed ? RECEIVE_CLOSED : RECEIVE_TIMEOUT;
    }
    const size_t n = CRpcFrameReader::BodyLengthOf(m_input.data());
    if (n == 0) {
        // The header is taken, as any other would be.
        m_input.erase(m_input.begin(), m_input.begin() + RPC_FRAME_HEADER);
        return RECEIVE_MALFORMED;
    }
    if (!Fill(RPC_FRAME_HEADER + n, bLimited, deadline, &bClosed)) {
        return bClosed ? RECEIVE_CLOSED : RECEIVE_TIMEOUT;
    }
    const auto first = m_input.begin() + RPC_FRAME_HEADER;
    body.assign(first, first + std::ptrdiff_t(n));
    m_input.erase(m_input.begin(), first + std::ptrdiff_t(n));
    return RECEIVE_OK;
}

int CRpcSocket::ConnectUnix(const std::string& strPath) {
    Close();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (strPath.size() >= sizeof addr.sun_path) {
        return ENAMETOOLONG;
    }
    strPath.copy(addr.sun_path, strPath.size());
    m_hSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_hSocket < 0) {
        return errno;
    }
    int rc;
    do {
        rc = ::connect(m_hSocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        Close();
        return err;
    }
    return 0;
}

int CRpcSocket::ConnectTcp(const sockaddr_in& addr, int nMillis) {
    Close();
    // Left non-blocking: every transfer waits in poll.
    m_hSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_hSocket < 0) {
        return errno;
    }
    int err = 0;
    if (::connect(m_hSocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        err = errno;
        if (err == EINPROGRESS || err == EINTR) {
            auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
            socklen_t len = sizeof err;
            if (!WaitFor(m_hSocket, POLLOUT, true, deadline)) {
                err = ETIMEDOUT;
            } else if (::getsockopt(m_hSocket, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                err = errno;
            }
        }
    }
    if (err != 0) {
        Close();
        return err;
    }
    SetTcpOptions();
    return 0;
}

bool CRpcSocket::GetPeerUid(uid_t* pUid) const {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(m_hSocket, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
        return false;
    }
    *pUid = cred.uid;
    return true;
}

HRESULT CRpcSocket::StartTls(const CRpcAccessKey& key, bool bServer, int nMillis,
                             size_t nMaxHandshakeBytes) {
    if (!m_input.empty()) {
        return E_UNEXPECTED;  // bytes that came outside TLS
    }
    HRESULT hr;
    m_pTls = CRpcTls::Handshake(m_hSocket, key, bServer, nMillis, nMaxHandshakeBytes, &hr);
    return hr;
}

void CRpcSocket::SetTcpOptions() {
    int on = 1;
    ::setsockopt(m_hSocket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A peer that vanished without closing is noticed within about a minute.
    ::setsockopt(m_hSocket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    int idle = 30, interval = 10, count = 3;
    ::setsockopt(m_hSocket, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(m_hSocket, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(m_hSocket, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}
