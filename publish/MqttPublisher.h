// One client of an MQTT broker that publishes what a poller reads, over
// libmosquitto (QoS 1, TLS through OpenSSL, the will). A thread of our own
// runs the library's network loop and makes the connection again after a
// pause that doubles: the library's own thread gives up when the first
// connection fails. The messages not yet acknowledged are kept here, not in
// the library, whose own queue has no bound: at most a given number wait,
// the oldest not yet handed to the library making room (statuses last),
// each one counted. Retained messages go again after a reconnection.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

struct mosquitto;

struct CMqttSettings {
    std::string strHost = "127.0.0.1";
    int nPort = 1883;  // 8883 for TLS, unless given
    std::string strUser;
    std::string strPassword;
    bool bTls = false;
    std::string strCaFile;  // TLS: the broker's CA; the client's certificate and key
    std::string strCertFile;
    std::string strKeyFile;
    std::string strClientId;  // unique per broker, or clients take each other's place
    int nKeepAlive = 30;      // seconds
    int nQos = 1;
    size_t nQueueLimit = 10000;  // messages waiting or unacknowledged
    // Published by the broker, retained, when this client is lost unannounced.
    std::string strWillTopic;
    std::string strWillPayload;
    unsigned nRetryFirst = 1;  // seconds before reconnecting, doubling up to nRetryMost
    unsigned nRetryMost = 30;
};

class CMqttPublisher {
public:
    struct CCounts {
        std::uint64_t nAcknowledged = 0;
        std::uint64_t nDropped = 0;
        size_t nWaiting = 0;  // queued here or unacknowledged
        bool bConnected = false;
        std::chrono::steady_clock::time_point tAway;  // since when not connected
        std::string strLastError;                     // why the broker was lost or refused us
    };

    explicit CMqttPublisher(CMqttSettings settings);
    ~CMqttPublisher();
    CMqttPublisher(const CMqttPublisher&) = delete;
    CMqttPublisher& operator=(const CMqttPublisher&) = delete;

    // Sets the client up and begins connecting; a broker that is away is
    // tried again in the background. False, with the reason, when the
    // settings cannot work (a TLS file that cannot be used, say).
    bool Start(std::string& strError);
    // Queues one message; never blocks on the network.
    void Publish(std::string strTopic, std::string strPayload, bool bRetain);
    // Waits until every message is acknowledged or the time is up; true when
    // nothing is left.
    bool Flush(std::chrono::milliseconds timeout);
    // Disconnects cleanly (the broker drops the will) and ends the thread.
    void Stop();
    CCounts Counts() const;
    const CMqttSettings& Settings() const { return m_settings; }

private:
    struct CMessage {
        std::string strTopic;
        std::string strPayload;
        bool bRetain = false;
    };

    static void OnConnect(mosquitto*, void* pThis, int nCode);
    static void OnDisconnect(mosquitto*, void* pThis, int nCode);
    static void OnPublish(mosquitto*, void* pThis, int nMid);

    // The network thread: the loop while connected, the pause and the
    // next attempt while not, until Stop.
    void Run();
    // Waits up to nSeconds unless Stop comes first; false when it came.
    bool Pause(unsigned nSeconds);
    // Drops the oldest waiting messages beyond the bound; under m_lock.
    void MakeRoom();
    // Hands waiting messages to the library while connected and the window
    // of unacknowledged ones has room.
    void Pump();
    // A message was acknowledged: counts it, and wakes Flush.
    void Acknowledged(int nMid);

    const CMqttSettings m_settings;
    const size_t m_nWindow;  // unacknowledged messages the library holds at most
    mosquitto* m_pClient = nullptr;
    std::thread m_thread;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<CMessage> m_waiting;  // not yet handed to the library
    std::set<int> m_inFlight;        // handed over, not yet acknowledged
    std::set<int> m_early;           // acknowledged before their hand-over was noted
    size_t m_nHanding = 0;           // being handed over right now
    bool m_bConnected = false;
    bool m_bWasConnected = false;  // a connection was made before
    bool m_bStop = false;
    std::map<std::string, std::string> m_retained;  // the latest payload of each retained topic
    std::chrono::steady_clock::time_point m_tAway = std::chrono::steady_clock::now();
    std::uint64_t m_nAcknowledged = 0;
    std::uint64_t m_nDropped = 0;
    std::string m_strLastError;
};
