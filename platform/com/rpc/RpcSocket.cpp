#include "RpcSocket.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "RpcFrame.h"
#include "RpcFrameReader.h"

namespace {
// Bytes asked of each recv beyond the frame being read: room for the frames
// that usually follow it.
constexpr size_t kReadAhead = 4096;

bool WaitFor(int hSocket, short events, const CDeadline& deadline) {
    return WaitUntil(hSocket, events, deadline) > 0;
}
}  // namespace

CDeadline CRpcSocket::DeadlineOf(int nMillis) {
    return nMillis >= 0 ? CDeadline::AfterMillis(nMillis) : CDeadline::Never();
}

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
    return SendAll(pb, n, DeadlineOf(nMillis));
}

bool CRpcSocket::SendAll(const BYTE* pb, size_t n, const CDeadline& deadline) {
    size_t nSent = 0;
    while (nSent < n) {
        short events = POLLOUT;
        const ssize_t rc = Send(pb + nSent, n - nSent, &events);
        if (rc > 0) {
            nSent += size_t(rc);
            continue;
        }
        if (rc < 0 && WaitFor(m_hSocket, events, deadline)) {
            continue;
        }
        return false;
    }
    return true;
}

bool CRpcSocket::SendFrame(CRpcFrameWriter& frame, int nMillis) {
    return SendFrame(frame, DeadlineOf(nMillis));
}

bool CRpcSocket::SendFrame(CRpcFrameWriter& frame, const CDeadline& deadline) {
    return frame.Seal() && SendAll(frame.GetBytes().data(), frame.GetBytes().size(), deadline);
}

bool CRpcSocket::Fill(size_t n, const CDeadline& deadline, bool* pbClosed) {
    *pbClosed = false;
    // The socket is waited for before each read, which saves asking an empty
    // one, unless TLS already holds bytes taken off it.
    short events = POLLIN;
    bool bWait = !HasPending();
    while (m_input.size() < n) {
        if (bWait && !WaitFor(m_hSocket, events, deadline)) {
            return false;
        }
        const size_t nHave = m_input.size();
        m_input.resize(std::max(n, nHave + kReadAhead));
        events = POLLIN;
        const ssize_t rc = Receive(m_input.data() + nHave, m_input.size() - nHave, &events);
        m_input.resize(nHave + (rc > 0 ? size_t(rc) : 0));
        if (rc == 0) {
            *pbClosed = true;
            return false;
        }
        // A read that would block waits for what it asked for, even with a
        // part of a record held.
        bWait = rc < 0 || !HasPending();
    }
    return true;
}

bool CRpcSocket::HasPending() {
    return m_pTls != nullptr && m_pTls->HasPending();
}

CRpcSocket::EReceive CRpcSocket::ReceiveFrame(std::vector<BYTE>& body, int nMillis) {
    return ReceiveFrame(body, DeadlineOf(nMillis));
}

CRpcSocket::EReceive CRpcSocket::ReceiveFrame(std::vector<BYTE>& body, const CDeadline& deadline) {
    bool bClosed = false;
    if (!Fill(RPC_FRAME_HEADER, deadline, &bClosed)) {
        return bClosed ? RECEIVE_CLOSED : RECEIVE_TIMEOUT;
    }
    const size_t n = CRpcFrameReader::BodyLengthOf(m_input.data());
    if (n == 0) {
        // The header is taken, as any other would be.
        m_input.erase(m_input.begin(), m_input.begin() + RPC_FRAME_HEADER);
        return RECEIVE_MALFORMED;
    }
    if (!Fill(RPC_FRAME_HEADER + n, deadline, &bClosed)) {
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
            socklen_t len = sizeof err;
            if (!WaitFor(m_hSocket, POLLOUT, CDeadline::AfterMillis(nMillis))) {
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
                             size_t nMaxHandshakeBytes, const std::function<bool()>& keyProved) {
    if (!m_input.empty()) {
        return E_UNEXPECTED;  // bytes that came outside TLS
    }
    HRESULT hr;
    m_pTls =
        CRpcTls::Handshake(m_hSocket, key, bServer, nMillis, nMaxHandshakeBytes, &hr, keyProved);
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
