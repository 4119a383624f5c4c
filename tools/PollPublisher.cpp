#include "PollPublisher.h"

#include <unistd.h>

#include <cstdio>

#include "testview/ValueLog.h"

namespace {

// Unique per machine and process: a broker ends the older of two clients
// of one id.
std::string ClientId(size_t nIndex) {
    char szHost[64] = {};
    ::gethostname(szHost, sizeof szHost - 1);
    return "regprobe-poll-" + std::string(szHost) + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(nIndex);
}

}  // namespace

std::string CPollPublisher::StatusTopic(const std::string& strConnection) const {
    return m_settings.target.strPrefix + "/" + TopicLevel(strConnection) + "/status";
}

std::string CPollPublisher::ValueTopic(const CPollContext& context, long nAddress) const {
    return m_settings.target.strPrefix + "/" + TopicLevel(context.strConnection) + "/" +
           std::to_string(context.nDevice) + "/" + TopicLevel(context.strFunction) + "/" +
           std::to_string(nAddress);
}

std::string CPollPublisher::StatusPayload(bool bOnline, const std::string& strStatus,
                                          std::int64_t nUnixMillis) {
    std::string s = std::string("{\"state\":") + (bOnline ? "\"online\"" : "\"offline\"") +
                    ",\"status\":" + JsonString(Latin1ToUtf8(strStatus));
    if (nUnixMillis != 0) {
        s += ",\"time\":" + JsonString(FormatUtcTime(nUnixMillis));
    }
    return s + "}";
}

bool CPollPublisher::AddConnection(const std::string& strConnection, size_t* pnIndex,
                                   std::string& strError) {
    for (size_t i = 0; i < m_connections.size(); ++i) {
        if (m_connections[i].strName == strConnection) {
            *pnIndex = i;
            return true;
        }
    }
    CMqttSettings s;
    s.strHost = m_settings.target.strHost;
    s.nPort = m_settings.target.nPort;
    s.strUser = m_settings.target.strUser;
    s.strPassword = m_settings.strPassword;
    s.bTls = m_settings.target.bTls;
    s.strCaFile = m_settings.strCaFile;
    s.strCertFile = m_settings.strCertFile;
    s.strKeyFile = m_settings.strKeyFile;
    s.strClientId = ClientId(m_connections.size());
    s.nQueueLimit = m_settings.nQueue;
    s.strWillTopic = StatusTopic(strConnection);
    s.strWillPayload = StatusPayload(false, "poller lost", 0);
    CConnection connection;
    connection.strName = strConnection;
    connection.pPublisher = std::make_unique<CMqttPublisher>(s);
    if (!connection.pPublisher->Start(strError)) {
        return false;
    }
    *pnIndex = m_connections.size();
    m_connections.push_back(std::move(connection));
    return true;
}

void CPollPublisher::Read(size_t nIndex, const CPollContext& context, std::int64_t nUnixMillis,
                          const CReadResult& result) {
    CConnection& c = m_connections[nIndex];
    if (!result.Failed()) {
        for (const CTypedValue& v : result.values) {
            c.pPublisher->Publish(ValueTopic(context, v.nAddress),
                                  JsonValue(context, nUnixMillis, result, v), false);
        }
    }
    const bool bOnline = !result.Failed();
    if (!c.bPublished || c.bOnline != bOnline || c.strStatus != result.strStatus) {
        c.bPublished = true;
        c.bOnline = bOnline;
        c.strStatus = result.strStatus;
        c.pPublisher->Publish(StatusTopic(c.strName),
                              StatusPayload(bOnline, result.strStatus, nUnixMillis), true);
    }
}

std::string CPollPublisher::Degraded(std::chrono::steady_clock::time_point now) {
    std::string strLines;
    for (CConnection& c : m_connections) {
        const CMqttPublisher::CCounts counts = c.pPublisher->Counts();
        if (counts.bConnected && counts.nDropped == c.nDroppedTold) {
            continue;
        }
        const CMqttSettings& s = c.pPublisher->Settings();
        std::string strLine = "regprobe-poll: MQTT " + s.strHost + ":" + std::to_string(s.nPort) +
                              " for " + c.strName + ": ";
        if (!counts.bConnected) {
            const auto seconds =
                std::chrono::duration_cast<std::chrono::seconds>(now - counts.tAway).count();
            strLine += "broker away for " + std::to_string(seconds) + " s (" +
                       (counts.strLastError.empty() ? "not connected" : counts.strLastError) +
                       "), ";
        }
        strLine += std::to_string(counts.nWaiting) + " messages waiting, " +
                   std::to_string(counts.nDropped) + " dropped\n";
        c.nDroppedTold = counts.nDropped;
        strLines += strLine;
    }
    return strLines;
}

bool CPollPublisher::Finish(std::chrono::milliseconds timeout) {
    for (CConnection& c : m_connections) {
        c.pPublisher->Publish(StatusTopic(c.strName), StatusPayload(false, "poller stopped", 0),
                              true);
    }
    // One deadline for them all: a broker that is away costs the time once.
    const auto tEnd = std::chrono::steady_clock::now() + timeout;
    bool bAll = true;
    std::uint64_t nDelivered = 0;
    std::uint64_t nDropped = 0;
    size_t nLeft = 0;
    for (CConnection& c : m_connections) {
        const auto left = std::max(std::chrono::steady_clock::duration::zero(),
                                   tEnd - std::chrono::steady_clock::now());
        c.pPublisher->Flush(std::chrono::duration_cast<std::chrono::milliseconds>(left));
        c.pPublisher->Stop();
        const CMqttPublisher::CCounts counts = c.pPublisher->Counts();
        nDelivered += counts.nAcknowledged;
        nDropped += counts.nDropped;
        nLeft += counts.nWaiting;
        bAll = bAll && counts.nDropped == 0 && counts.nWaiting == 0;
    }
    std::fprintf(stderr, "regprobe-poll: MQTT: %llu messages delivered, %llu dropped, %zu left\n",
                 static_cast<unsigned long long>(nDelivered),
                 static_cast<unsigned long long>(nDropped), nLeft);
    return bAll;
}
