#include "MqttBroker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

namespace {

// A port where nothing listens now; 0 when none could be had.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    int nPort = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
        nPort = ntohs(sa.sin_port);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return nPort;
}

bool Accepts(int nPort) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(nPort));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bOk = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return bOk;
}

void InitLibrary() {
    static std::once_flag s_once;
    std::call_once(s_once, [] { mosquitto_lib_init(); });
}

}  // namespace

bool CMqttBroker::Start(const CTls* pTls) {
    for (int nTry = 0; nTry < 5; ++nTry) {
        m_nPort = FreePort();
        std::string strConfig = "listener " + std::to_string(m_nPort) +
                                " 127.0.0.1\n"
                                "allow_anonymous true\n"
                                "persistence false\n"
                                "log_dest stdout\n"
                                "log_type error\n"
                                "max_queued_messages 0\n";
        // Run as root, the broker would change to its own user, who cannot
        // read our scratch directory.
        if (const passwd* pw = ::getpwuid(::getuid())) {
            strConfig += "user " + std::string(pw->pw_name) + "\n";
        }
        if (pTls != nullptr) {
            strConfig += "cafile " + pTls->strCaFile + "\ncertfile " + pTls->strCertFile +
                         "\nkeyfile " + pTls->strKeyFile + "\nrequire_certificate true\n";
        }
        m_strConfig = m_dir.WriteFile("mosquitto.conf", strConfig, 0600);
        if (m_nPort != 0 && Launch()) {
            return true;
        }
    }
    return false;
}

bool CMqttBroker::Launch() {
    m_pProcess = std::make_unique<CChildProcess>();
    m_pProcess->Start({"/usr/sbin/mosquitto", "-c", m_strConfig}, true);
    m_bRunning = true;
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < tEnd) {
        if (Accepts(m_nPort)) {
            return true;
        }
        if (m_pProcess->Wait(20) >= 0) {  // it could not take the port
            m_bRunning = false;
            return false;
        }
    }
    Stop();
    return false;
}

void CMqttBroker::Stop() {
    if (m_bRunning) {
        m_pProcess->Signal(SIGTERM);
        if (m_pProcess->Wait(5000) < 0) {
            m_pProcess->Signal(SIGKILL);
            m_pProcess->Wait(5000);
        }
        m_bRunning = false;
    }
}

bool CMqttBroker::Restart() {
    Stop();
    for (int nTry = 0; nTry < 20; ++nTry) {
        if (Launch()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

CMqttSubscriber::CMqttSubscriber(int nPort, std::string strFilter, const CMqttBroker::CTls* pTls)
    : m_strFilter(std::move(strFilter)) {
    InitLibrary();
    m_pClient = mosquitto_new(nullptr, true, this);
    if (pTls != nullptr) {
        mosquitto_tls_set(m_pClient, pTls->strCaFile.c_str(), nullptr, pTls->strCertFile.c_str(),
                          pTls->strKeyFile.c_str(), nullptr);
    }
    mosquitto_connect_callback_set(m_pClient, [](mosquitto* p, void* pThis, int nCode) {
        auto* s = static_cast<CMqttSubscriber*>(pThis);
        if (nCode == 0) {
            mosquitto_subscribe(p, nullptr, s->m_strFilter.c_str(), 1);
        }
    });
    mosquitto_subscribe_callback_set(m_pClient, [](mosquitto*, void* pThis, int, int, const int*) {
        static_cast<CMqttSubscriber*>(pThis)->m_bConnected = true;
    });
    mosquitto_message_callback_set(
        m_pClient, [](mosquitto*, void* pThis, const mosquitto_message* m) {
            auto* s = static_cast<CMqttSubscriber*>(pThis);
            std::lock_guard<std::mutex> lock(s->m_lock);
            s->m_messages.push_back(
                {m->topic, std::string(static_cast<const char*>(m->payload), size_t(m->payloadlen)),
                 m->retain});
        });
    m_thread = std::thread([this, nPort] {
        bool bSocket = false;
        while (!m_bStop) {
            if (!bSocket) {
                bSocket = mosquitto_connect(m_pClient, "127.0.0.1", nPort, 30) == MOSQ_ERR_SUCCESS;
                if (!bSocket) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                continue;
            }
            if (mosquitto_loop(m_pClient, 20, 1) != MOSQ_ERR_SUCCESS) {
                m_bConnected = false;
                bSocket = false;
            }
        }
        mosquitto_disconnect(m_pClient);
    });
}

CMqttSubscriber::~CMqttSubscriber() {
    m_bStop = true;
    m_thread.join();
    mosquitto_destroy(m_pClient);
}

bool CMqttSubscriber::WaitFor(const std::function<bool(const std::vector<CMessage>&)>& done,
                              std::chrono::milliseconds timeout) {
    const auto tEnd = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done(Messages())) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= tEnd) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<CMqttSubscriber::CMessage> CMqttSubscriber::Messages() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_messages;
}
