// The command line of modbus-serial-server.
#pragma once

#include <vector>

#include "PortMap.h"
#include "ServerLog.h"
#include "core/FunctionCodes.h"
#include "platform/CommandLine.h"

class CServerOptions {
public:
    using EParse = CCommandLine::EResult;

    static const char HELP_TEXT[];
    static constexpr int DEFAULT_LINGER_SECONDS = 10;

    // Reads the options and then the port map: the default configuration
    // file when it exists (or the one named by --config, which must), then
    // every --port on top. On BAD strError says why.
    EParse Parse(int argc, const char* const* argv, CString& strError);

    bool m_bForeground = false;
    bool m_bActivated = false;
    int m_nLingerSeconds = DEFAULT_LINGER_SECONDS;
    int m_nGatewayIdleSeconds = ModbusGateway::DEFAULT_IDLE_SECONDS;
    CString m_strListen;
    CString m_strKeyFile;
    CString m_strConfig;
    CServerLog::ELevel m_logLevel = CServerLog::LEVEL_WARN;
    CPortMap m_portMap;

private:
    // The configuration file's ports, then the --port assignments on top.
    bool LoadPorts(const std::vector<CString>& assignments, CString& strError);
};
