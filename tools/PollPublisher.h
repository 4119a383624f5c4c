// The poller's reads as MQTT messages: a client of the broker per
// connection polled, so that each connection's status topic has a will of
// its own; one message per value, and the connection's retained status
// whenever it changes.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PollOutput.h"
#include "publish/MqttPublisher.h"
#include "publish/MqttTarget.h"

class CPollPublisher {
public:
    struct CSettings {
        CMqttTarget target;
        std::string strPassword;
        std::string strCaFile;
        std::string strCertFile;
        std::string strKeyFile;
        size_t nQueue = 10000;
    };

    explicit CPollPublisher(CSettings settings) : m_settings(std::move(settings)) {}

    // A client for the connection of that name (a saved connection's name, or
    // HOST:PORT); its index for Read. Every connection is added before the
    // reads begin. False with the reason when the client cannot be set up.
    bool AddConnection(const std::string& strConnection, size_t* pnIndex, std::string& strError);
    // A read of connection nIndex: its values, and its status when that
    // changed. Reads of one connection come from one thread at a time.
    void Read(size_t nIndex, const CPollContext& context, std::int64_t nUnixMillis,
              const CReadResult& result);
    // Publishes "offline" for every connection, waits up to timeout for the
    // broker to take what waits, and disconnects. True when every message
    // was delivered and none dropped; a line on standard error says what was
    // published, dropped and left.
    bool Finish(std::chrono::milliseconds timeout);
    // The line for standard error while a broker is away or messages were
    // dropped since the last call; empty when all is well.
    std::string Degraded(std::chrono::steady_clock::time_point now);

    // The topic of a connection's status, and of one value.
    std::string StatusTopic(const std::string& strConnection) const;
    std::string ValueTopic(const CPollContext& context, long nAddress) const;
    // The status payload: {"state":"online","status":"Read OK","time":"..."}.
    static std::string StatusPayload(bool bOnline, const std::string& strStatus,
                                     std::int64_t nUnixMillis);

private:
    struct CConnection {
        std::string strName;
        std::unique_ptr<CMqttPublisher> pPublisher;
        bool bPublished = false;  // a status went out
        bool bOnline = false;
        std::string strStatus;
        std::uint64_t nDroppedTold = 0;
    };

    CSettings m_settings;
    std::vector<CConnection> m_connections;
};
