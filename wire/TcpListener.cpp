#include "TcpListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {
constexpr int LISTEN_BACKLOG = 16;
}  // namespace

BOOL CTcpListener::Fail(const CString& strWhat) {
    m_strError = strWhat + ": " + std::strerror(errno);
    m_hListen.Reset();
    m_stop.Close();
    return FALSE;
}

BOOL CTcpListener::Start(const CString& strAddress, WORD nPort, CHooks hooks) {
    if (IsRunning()) {
        return TRUE;
    }
    m_strError.clear();
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(nPort);
    if (::inet_pton(AF_INET, strAddress.c_str(), &sa.sin_addr) != 1) {
        m_strError = "not a dotted IPv4 address: '" + strAddress + "'";
        return FALSE;
    }
    if (!m_stop.Create()) {
        return Fail("eventfd");
    }
    m_hListen.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!m_hListen) {
        return Fail("socket");
    }
    int one = 1;
    ::setsockopt(m_hListen.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(m_hListen.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        return Fail("bind " + strAddress + ":" + std::to_string(nPort));
    }
    if (::listen(m_hListen.Get(), LISTEN_BACKLOG) != 0) {
        return Fail("listen");
    }
    socklen_t len = sizeof sa;
    if (::getsockname(m_hListen.Get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return Fail("getsockname");
    }
    m_nPort = ntohs(sa.sin_port);
    m_hooks = std::move(hooks);
    m_acceptThread = std::thread(&CTcpListener::AcceptLoop, this);
    return TRUE;
}

bool CTcpListener::Stop() {
    if (!IsRunning()) {
        return true;
    }
    const bool bSignalled = m_stop.Signal();
    m_acceptThread.join();
    m_hListen.Reset();
    m_connections.Reap(true);
    m_stop.Close();
    return bSignalled;
}

void CTcpListener::AcceptLoop() {
    for (;;) {
        pollfd pfds[2] = {{m_stop.Get(), POLLIN, 0}, {m_hListen.Get(), POLLIN, 0}};
        const int rc = ::poll(pfds, 2, REAP_INTERVAL_MS);
        if ((rc < 0 && errno != EINTR) || pfds[0].revents != 0) {
            return;
        }
        m_connections.Reap(false);
        if (m_hooks.onTick) {
            m_hooks.onTick(m_connections);
        }
        if (rc > 0 && (pfds[1].revents & POLLIN) != 0) {
            AcceptOne();
        }
    }
}

void CTcpListener::AcceptOne() {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    CUniqueFd hSocket(
        ::accept4(m_hListen.Get(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
    if (!hSocket) {
        return;
    }
    const ULONGLONG nId = ++m_nAccepted;
    char szText[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &peer.sin_addr, szText, sizeof szText);
    const CString strPeer = CString(szText) + ":" + std::to_string(ntohs(peer.sin_port));
    if (m_hooks.admit && !m_hooks.admit(m_connections, nId, strPeer)) {
        return;
    }
    // Answers go out as soon as they are written, split where the server
    // splits them.
    int one = 1;
    ::setsockopt(hSocket.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{SEND_TIMEOUT_MS / 1000, (SEND_TIMEOUT_MS % 1000) * 1000};
    ::setsockopt(hSocket.Get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    m_connections.Start(hSocket.Release(), nId, m_hooks.serve);
}
