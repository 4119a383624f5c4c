#include "MqttTarget.h"

#include <cstdlib>

namespace {
// [v6 address] or host, then :port; the reason when it is not that.
const char* ParseHostPort(const std::string& strAuthority, CMqttTarget& target) {
    size_t nColon = std::string::npos;
    if (!strAuthority.empty() && strAuthority.front() == '[') {
        const size_t nClose = strAuthority.find(']');
        if (nClose == std::string::npos) {
            return "no ']'";
        }
        target.strHost = strAuthority.substr(1, nClose - 1);
        if (nClose + 1 < strAuthority.size()) {
            if (strAuthority[nClose + 1] != ':') {
                return "no ':' after ']'";
            }
            nColon = nClose + 1;
        }
    } else {
        nColon = strAuthority.find(':');
        target.strHost = strAuthority.substr(0, nColon);
    }
    if (target.strHost.empty()) {
        return "no host";
    }
    if (nColon != std::string::npos) {
        const std::string strPort = strAuthority.substr(nColon + 1);
        char* pEnd = nullptr;
        const long nPort = std::strtol(strPort.c_str(), &pEnd, 10);
        if (strPort.empty() || *pEnd != '\0' || strPort[0] < '0' || strPort[0] > '9' || nPort < 1 ||
            nPort > 65535) {
            return "the port must be 1-65535";
        }
        target.nPort = int(nPort);
    }
    return nullptr;
}
}  // namespace

bool ParseMqttTarget(const std::string& strUrl, CMqttTarget& target, std::string& strError) {
    const auto bad = [&](const std::string& strWhy) {
        strError = "--publish needs mqtt://[user@]host[:port]/PREFIX or mqtts://...: " + strWhy +
                   " in '" + strUrl + "'";
        return false;
    };
    std::string strRest;
    if (strUrl.rfind("mqtt://", 0) == 0) {
        target.bTls = false;
        target.nPort = 1883;
        strRest = strUrl.substr(7);
    } else if (strUrl.rfind("mqtts://", 0) == 0) {
        target.bTls = true;
        target.nPort = 8883;
        strRest = strUrl.substr(8);
    } else {
        return bad("no mqtt:// or mqtts://");
    }
    const size_t nSlash = strRest.find('/');
    if (nSlash == std::string::npos || nSlash + 1 == strRest.size()) {
        return bad("no topic prefix");
    }
    target.strPrefix = strRest.substr(nSlash + 1);
    std::string strAuthority = strRest.substr(0, nSlash);
    const size_t nAt = strAuthority.rfind('@');
    target.strUser = nAt == std::string::npos ? std::string() : strAuthority.substr(0, nAt);
    strAuthority = nAt == std::string::npos ? strAuthority : strAuthority.substr(nAt + 1);
    if (const char* pszWhy = ParseHostPort(strAuthority, target)) {
        return bad(pszWhy);
    }
    if (target.strPrefix.find_first_of("+#") != std::string::npos) {
        return bad("a prefix holds no '+' or '#'");
    }
    if (target.strPrefix.front() == '/' || target.strPrefix.back() == '/' ||
        target.strPrefix.find("//") != std::string::npos) {
        return bad("a prefix has no empty level");
    }
    return true;
}

std::string TopicLevel(const std::string& strName) {
    std::string str = strName.empty() ? std::string("_") : strName;
    for (char& ch : str) {
        if (ch == '/' || ch == '+' || ch == '#' || static_cast<unsigned char>(ch) < 0x20 ||
            ch == 0x7F) {
            ch = '_';
        }
    }
    return str;
}
