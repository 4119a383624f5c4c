// A listening socket on 127.0.0.1 with an ephemeral port, for tests that play
// the server side by hand.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

class CListener {
public:
    // A backlog of 0 lets one connection wait for accept; the kernel drops
    // the handshakes of any more until that one is taken.
    explicit CListener(int nBacklog = 8) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
            ::listen(m_fd, nBacklog) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
            throw std::runtime_error("listen failed");
        }
        m_addr = sa;
    }
    ~CListener() { ::close(m_fd); }
    CListener(const CListener&) = delete;
    CListener& operator=(const CListener&) = delete;

    sockaddr_in Address() const { return m_addr; }
    unsigned short Port() const { return ntohs(m_addr.sin_port); }

    // The next connection, or -1 when none comes within nMillis.
    int Accept(int nMillis = 2000) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, nMillis) != 1) {
            return -1;
        }
        return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int m_fd;
    sockaddr_in m_addr{};
};
