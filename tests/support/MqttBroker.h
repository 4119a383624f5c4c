// A Mosquitto broker of the test's own on 127.0.0.1, and a subscriber that
// records what it is sent. The broker cannot be given port 0: a free port is
// found by binding and closing, and another tried when the broker could not
// take it. Every wait is bounded.
#pragma once

#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"

class CMqttBroker {
public:
    struct CTls {
        std::string strCaFile;  // signs the clients' certificates
        std::string strCertFile;
        std::string strKeyFile;
    };

    CMqttBroker() = default;
    ~CMqttBroker() { Stop(); }

    // Starts it on a free port (TLS with a client's certificate required
    // when pTls is given); false when it would not come up.
    bool Start(const CTls* pTls = nullptr);
    // Ends it (SIGTERM), bounded in time.
    void Stop();
    // Starts it again on the same port.
    bool Restart();
    int Port() const { return m_nPort; }

private:
    bool Launch();

    CTempDir m_dir;
    std::unique_ptr<CChildProcess> m_pProcess;  // one for each start
    bool m_bRunning = false;
    int m_nPort = 0;
    std::string m_strConfig;
};

class CMqttSubscriber {
public:
    struct CMessage {
        std::string strTopic;
        std::string strPayload;
        bool bRetain = false;
    };

    // Subscribes to strFilter at QoS 1, again after each connection it makes:
    // a lost broker is tried every 20 ms, so that it is back before any
    // publisher waiting a second or more.
    CMqttSubscriber(int nPort, std::string strFilter, const CMqttBroker::CTls* pTls = nullptr);
    ~CMqttSubscriber();
    CMqttSubscriber(const CMqttSubscriber&) = delete;
    CMqttSubscriber& operator=(const CMqttSubscriber&) = delete;

    // Waits up to timeout for done to hold of the messages so far.
    bool WaitFor(const std::function<bool(const std::vector<CMessage>&)>& done,
                 std::chrono::milliseconds timeout);
    std::vector<CMessage> Messages();
    bool Connected() const { return m_bConnected; }

private:
    mosquitto* m_pClient = nullptr;
    std::string m_strFilter;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bConnected{false};
    std::mutex m_lock;
    std::vector<CMessage> m_messages;
    std::thread m_thread;
};
