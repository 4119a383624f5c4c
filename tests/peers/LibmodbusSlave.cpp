#include "LibmodbusSlave.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

CLibmodbusSlave::CLibmodbusSlave(int nBits, int nInputBits, int nRegisters, int nInputRegisters) {
    m_hListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = 0;
    socklen_t len = sizeof sa;
    if (m_hListen < 0 || ::bind(m_hListen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(m_hListen, 16) != 0 ||
        ::getsockname(m_hListen, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        if (m_hListen >= 0) {
            ::close(m_hListen);
        }
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    m_nPort = ntohs(sa.sin_port);
    // The context only frames and answers; the sockets are handed to it.
    m_pCtx = modbus_new_tcp("127.0.0.1", m_nPort);
    m_pMap = modbus_mapping_new(nBits, nInputBits, nRegisters, nInputRegisters);
    if (m_pCtx == nullptr || m_pMap == nullptr) {
        throw std::runtime_error("libmodbus context or mapping");
    }
    // libmodbus sleeps this long before flushing after some exceptions.
    modbus_set_response_timeout(m_pCtx, 0, 20000);
    m_thread = std::thread([this] { Serve(); });
}

CLibmodbusSlave::~CLibmodbusSlave() {
    m_bStop = true;
    m_thread.join();
    ::close(m_hListen);
    modbus_mapping_free(m_pMap);
    modbus_free(m_pCtx);
}

void CLibmodbusSlave::Serve() {
    std::vector<pollfd> fds{{m_hListen, POLLIN, 0}};
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    // Short waits so that the destructor is never kept waiting long.
    while (!m_bStop) {
        for (pollfd& p : fds) {
            p.revents = 0;
        }
        if (::poll(fds.data(), fds.size(), 20) <= 0) {
            continue;
        }
        for (size_t i = fds.size(); i-- > 1;) {
            if (fds[i].revents == 0) {
                continue;
            }
            modbus_set_socket(m_pCtx, fds[i].fd);
            int rc = modbus_receive(m_pCtx, query);
            if (rc > 0) {
                std::lock_guard<std::mutex> guard(m_mutex);
                modbus_reply(m_pCtx, query, rc, m_pMap);
            } else if (rc < 0) {
                ::close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (fds[0].revents & POLLIN) {
            int h = ::accept4(m_hListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (h >= 0) {
                ++m_nAccepted;
                fds.push_back({h, POLLIN, 0});
            }
        }
    }
    modbus_set_socket(m_pCtx, -1);
    for (size_t i = 1; i < fds.size(); ++i) {
        ::close(fds[i].fd);
    }
}
