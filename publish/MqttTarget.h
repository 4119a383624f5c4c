// Where the poller publishes: mqtt://[user@]host[:port]/PREFIX (mqtts:// for
// TLS), and the names it makes topic levels of.
#pragma once

#include <string>

struct CMqttTarget {
    bool bTls = false;
    std::string strUser;
    std::string strHost;
    int nPort = 1883;  // 8883 for mqtts:// unless given
    std::string strPrefix;
};

// False, with the line to print, when strUrl is not such an address: the
// host and a prefix are needed; the prefix holds no wildcard and no empty
// level.
bool ParseMqttTarget(const std::string& strUrl, CMqttTarget& target, std::string& strError);

// A name as one topic level: '/', '+' and '#' (which would make levels or
// wildcards) and control characters become '_'; an empty name is "_".
std::string TopicLevel(const std::string& strName);
