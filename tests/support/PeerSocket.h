// Both ends of TCP on 127.0.0.1 for tests that play a peer by hand: a
// listening socket on a port the system picks, and a bare client for frames
// a master would never send.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

#include "platform/WinTypes.h"

// A socket listening on 127.0.0.1 at a free port, its port in *pnPort; -1
// when that fails. A backlog below 0 binds without listening, to find a port
// where nothing listens.
inline int ListenLoopback(int nBacklog, WORD* pnPort) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        (nBacklog >= 0 && ::listen(fd, nBacklog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    *pnPort = ntohs(sa.sin_port);
    return fd;
}

class CListener {
public:
    // A backlog of 0 lets one connection wait for accept; the kernel drops
    // the handshakes of any more until that one is taken.
    explicit CListener(int nBacklog = 8) : m_fd(ListenLoopback(nBacklog, &m_nPort)) {
        if (m_fd < 0) {
            throw std::runtime_error("listen failed");
        }
        m_addr.sin_family = AF_INET;
        m_addr.sin_port = htons(m_nPort);
        m_addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~CListener() { ::close(m_fd); }
    CListener(const CListener&) = delete;
    CListener& operator=(const CListener&) = delete;

    sockaddr_in Address() const { return m_addr; }
    unsigned short Port() const { return m_nPort; }

    // The next connection, or -1 when none comes within nMillis.
    int Accept(int nMillis = 2000) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, nMillis) != 1) {
            return -1;
        }
        return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    WORD m_nPort = 0;
    int m_fd;
    sockaddr_in m_addr{};
};

// Up to n bytes from fd within nMillis; fewer when the peer closes or the
// time runs out.
inline CByteArray ReadBytes(int fd, size_t n, int nMillis = 2000) {
    CByteArray got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMillis);
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) != 1) {
            continue;
        }
        BYTE buf[1024];
        const ssize_t r = ::recv(fd, buf, std::min(sizeof buf, n - got.size()), 0);
        if (r <= 0) {
            break;
        }
        got.insert(got.end(), buf, buf + r);
    }
    return got;
}

inline void WriteBytes(int fd, const CByteArray& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

class CRawClient {
public:
    explicit CRawClient(long nPort) : m_hSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(nPort));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_bConnected = ::connect(m_hSocket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    }
    ~CRawClient() { ::close(m_hSocket); }
    CRawClient(const CRawClient&) = delete;
    CRawClient& operator=(const CRawClient&) = delete;

    void Send(const CByteArray& bytes) {
        ASSERT_EQ(::send(m_hSocket, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  ssize_t(bytes.size()));
    }
    // What arrives of nWant bytes within nMillis; m_bClosed once the peer
    // closed the connection with nothing more to read.
    CByteArray Receive(size_t nWant, int nMillis) {
        timeval tv{nMillis / 1000, (nMillis % 1000) * 1000};
        ::setsockopt(m_hSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        CByteArray got(nWant);
        const ssize_t n = ::recv(m_hSocket, got.data(), nWant, MSG_WAITALL);
        m_bClosed = m_bClosed || n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        got.resize(n > 0 ? size_t(n) : 0);
        return got;
    }

    int m_hSocket;
    bool m_bConnected = false;
    bool m_bClosed = false;
};
