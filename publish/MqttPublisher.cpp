#include "MqttPublisher.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

// The library's global state, set up once for the process and never torn
// down: publishers may come and go on any thread.
void InitLibrary() {
    static std::once_flag s_once;
    std::call_once(s_once, [] { mosquitto_lib_init(); });
}

// The library's text for a failure, with the system's when it is one.
std::string ErrorText(int nCode) {
    if (nCode == MOSQ_ERR_ERRNO) {
        return std::strerror(errno);
    }
    return mosquitto_strerror(nCode);
}

// Enough to keep the line busy at a broker across the network, and little
// enough that a lost connection leaves most of the queue in our hands.
constexpr size_t kWindow = 200;

}  // namespace

CMqttPublisher::CMqttPublisher(CMqttSettings settings)
    : m_settings(std::move(settings)),
      m_nWindow(std::max<size_t>(1, std::min(kWindow, m_settings.nQueueLimit))) {}

CMqttPublisher::~CMqttPublisher() {
    Stop();
}

bool CMqttPublisher::Start(std::string& strError) {
    InitLibrary();
    m_pClient = mosquitto_new(
        m_settings.strClientId.empty() ? nullptr : m_settings.strClientId.c_str(), true, this);
    if (m_pClient == nullptr) {
        strError = "cannot make an MQTT client: " + std::string(std::strerror(errno));
        return false;
    }
    mosquitto_int_option(m_pClient, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_pClient, &CMqttPublisher::OnConnect);
    mosquitto_disconnect_callback_set(m_pClient, &CMqttPublisher::OnDisconnect);
    mosquitto_publish_callback_set(m_pClient, &CMqttPublisher::OnPublish);
    mosquitto_threaded_set(m_pClient, true);
    mosquitto_max_inflight_messages_set(m_pClient, unsigned(m_nWindow));
    int rc = MOSQ_ERR_SUCCESS;
    if (!m_settings.strUser.empty()) {
        rc = mosquitto_username_pw_set(
            m_pClient, m_settings.strUser.c_str(),
            m_settings.strPassword.empty() ? nullptr : m_settings.strPassword.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && !m_settings.strWillTopic.empty()) {
        rc = mosquitto_will_set(m_pClient, m_settings.strWillTopic.c_str(),
                                int(m_settings.strWillPayload.size()),
                                m_settings.strWillPayload.data(), m_settings.nQos, true);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        strError = "MQTT: " + ErrorText(rc);
        return false;
    }
    if (m_settings.bTls) {
        // The library only says that something was wrong with them.
        for (const std::string* pFile :
             {&m_settings.strCaFile, &m_settings.strCertFile, &m_settings.strKeyFile}) {
            if (!pFile->empty() && ::access(pFile->c_str(), R_OK) != 0) {
                strError = "cannot read " + *pFile + ": " + std::strerror(errno);
                return false;
            }
        }
        auto file = [](const std::string& str) { return str.empty() ? nullptr : str.c_str(); };
        rc = mosquitto_tls_set(m_pClient, file(m_settings.strCaFile), nullptr,
                               file(m_settings.strCertFile), file(m_settings.strKeyFile), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            strError = "MQTT TLS files: " + ErrorText(rc);
            return false;
        }
    }
    m_thread = std::thread(&CMqttPublisher::Run, this);
    return true;
}

bool CMqttPublisher::Pause(unsigned nSeconds) {
    std::unique_lock<std::mutex> lock(m_lock);
    return !m_changed.wait_for(lock, std::chrono::seconds(nSeconds), [this] { return m_bStop; });
}

void CMqttPublisher::Run() {
    // The connection is only begun here (the name's look-up aside); the
    // loop completes it.
    int rc = mosquitto_connect_async(m_pClient, m_settings.strHost.c_str(), m_settings.nPort,
                                     m_settings.nKeepAlive);
    unsigned nDelay = m_settings.nRetryFirst;
    for (;;) {
        if (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_loop(m_pClient, 100, 1);
            std::unique_lock<std::mutex> lock(m_lock);
            if (m_bConnected) {
                nDelay = m_settings.nRetryFirst;
            }
            if (!m_bStop) {
                continue;
            }
            // Stopping: DISCONNECT, sent by the loop, makes the broker drop the
            // will; then the loop ends with the connection.
            const bool bConnected = m_bConnected && rc == MOSQ_ERR_SUCCESS;
            lock.unlock();
            if (bConnected && mosquitto_disconnect(m_pClient) == MOSQ_ERR_SUCCESS) {
                for (int i = 0; i < 20 && mosquitto_loop(m_pClient, 50, 1) == MOSQ_ERR_SUCCESS;
                     ++i) {
                }
            }
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_bConnected) {
                m_tAway = std::chrono::steady_clock::now();
            }
            m_bConnected = false;
            if (rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST) {
                m_strLastError = ErrorText(rc);
            } else if (m_strLastError.empty()) {
                m_strLastError = "connection lost";
            }
        }
        if (!Pause(nDelay)) {
            return;
        }
        nDelay = std::min(nDelay * 2, m_settings.nRetryMost);
        rc = mosquitto_reconnect_async(m_pClient);
    }
}

void CMqttPublisher::Publish(std::string strTopic, std::string strPayload, bool bRetain) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (bRetain) {
            m_retained[strTopic] = strPayload;
        }
        m_waiting.push_back({std::move(strTopic), std::move(strPayload), bRetain});
        MakeRoom();
    }
    Pump();
}

void CMqttPublisher::MakeRoom() {
    // What the library holds cannot be taken back: room is made among the
    // messages still here, the oldest first. A retained message (a status)
    // is the last word on its topic, and rare: it stays while there are
    // others to drop.
    while (!m_waiting.empty() &&
           m_waiting.size() + m_inFlight.size() + m_nHanding > m_settings.nQueueLimit) {
        auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                               [](const CMessage& m) { return !m.bRetain; });
        m_waiting.erase(it == m_waiting.end() ? m_waiting.begin() : it);
        ++m_nDropped;
    }
}

void CMqttPublisher::Pump() {
    for (;;) {
        CMessage message;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_bConnected || m_waiting.empty() || m_inFlight.size() + m_nHanding >= m_nWindow) {
                return;
            }
            message = std::move(m_waiting.front());
            m_waiting.pop_front();
            ++m_nHanding;
        }
        // Outside the lock: the library's thread may be calling us back.
        int nMid = 0;
        const int rc = mosquitto_publish(m_pClient, &nMid, message.strTopic.c_str(),
                                         int(message.strPayload.size()), message.strPayload.data(),
                                         m_settings.nQos, message.bRetain);
        std::lock_guard<std::mutex> lock(m_lock);
        --m_nHanding;
        if (rc != MOSQ_ERR_SUCCESS) {
            // Not taken (the connection went meanwhile): first again later.
            m_waiting.push_front(std::move(message));
            m_strLastError = ErrorText(rc);
            return;
        }
        if (m_settings.nQos == 0 || m_early.erase(nMid) > 0) {
            ++m_nAcknowledged;
            m_changed.notify_all();
        } else {
            m_inFlight.insert(nMid);
        }
    }
}

void CMqttPublisher::Acknowledged(int nMid) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_inFlight.erase(nMid) > 0) {
        ++m_nAcknowledged;
        m_changed.notify_all();
    } else if (m_nHanding > 0) {
        m_early.insert(nMid);  // its publish call has not returned yet
    }
}

void CMqttPublisher::OnConnect(mosquitto*, void* pThis, int nCode) {
    auto* p = static_cast<CMqttPublisher*>(pThis);
    {
        std::lock_guard<std::mutex> lock(p->m_lock);
        p->m_bConnected = nCode == 0;
        if (nCode == 0 && p->m_bWasConnected) {
            // A broker that lost us published the will, and one that was
            // restarted may have forgotten what was retained: the latest of
            // each retained topic goes again.
            for (const auto& [strTopic, strPayload] : p->m_retained) {
                p->m_waiting.push_back({strTopic, strPayload, true});
            }
            p->MakeRoom();
        }
        if (nCode == 0) {
            p->m_bWasConnected = true;
            p->m_strLastError.clear();
        } else {
            p->m_strLastError = mosquitto_connack_string(nCode);
        }
    }
    p->Pump();
}

void CMqttPublisher::OnDisconnect(mosquitto*, void* pThis, int nCode) {
    auto* p = static_cast<CMqttPublisher*>(pThis);
    std::lock_guard<std::mutex> lock(p->m_lock);
    if (p->m_bConnected) {
        p->m_tAway = std::chrono::steady_clock::now();
    }
    p->m_bConnected = false;
    if (nCode != 0) {
        p->m_strLastError = "connection lost";
    }
    p->m_changed.notify_all();
}

void CMqttPublisher::OnPublish(mosquitto*, void* pThis, int nMid) {
    static_cast<CMqttPublisher*>(pThis)->Acknowledged(nMid);
    static_cast<CMqttPublisher*>(pThis)->Pump();
}

bool CMqttPublisher::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [this] {
        return m_waiting.empty() && m_inFlight.empty() && m_nHanding == 0;
    });
}

void CMqttPublisher::Stop() {
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_bStop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    if (m_pClient != nullptr) {
        mosquitto_destroy(m_pClient);
        m_pClient = nullptr;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_bConnected = false;
}

CMqttPublisher::CCounts CMqttPublisher::Counts() const {
    std::lock_guard<std::mutex> lock(m_lock);
    CCounts counts;
    counts.nAcknowledged = m_nAcknowledged;
    counts.nDropped = m_nDropped;
    counts.nWaiting = m_waiting.size() + m_inFlight.size() + m_nHanding;
    counts.bConnected = m_bConnected;
    counts.tAway = m_tAway;
    counts.strLastError = m_strLastError;
    return counts;
}
