#include "ServerOptions.h"

#include <sys/stat.h>

#include <vector>

const char CServerOptions::HELP_TEXT[] = R"(Usage: modbus-serial-server [OPTION]...
Serves the serial ports COM1..COM8 to Modbus masters: clients send requests
as frames without checksum and the server frames them as RTU or ASCII on the
port's serial line and returns the answers. Each port can also be offered to
Modbus/TCP clients through its gateway. Stops on SIGINT or SIGTERM.

  --foreground          run as a service: never leave because nobody uses it
                        (the default)
  --activated           started on demand by a client: leave once no client
                        object is alive and no gateway runs for the linger
                        time
  --linger SECONDS      that linger time (default 10)
  --listen ADDR[:PORT]  also accept remote clients on TCP at ADDR (port 5135
                        when none is given, 0 for any free port); prints
                        "listening on ADDR[:PORT] port N" once it does
  --key-file FILE       the shared key remote clients must prove to hold;
                        needed with --listen (TLS 1.3 keyed by an HMAC of
                        it: see the manual page)
  --port COMn=PATH      the device that COMn opens, e.g.
                        --port COM1=/dev/ttyUSB0; repeat for several ports
  --config FILE         read port assignments from FILE instead of the
                        default file (see below)
  --gateway-idle SECONDS
                        disconnect a gateway client that has sent no
                        request for this long (default 60, 0 never); a
                        client arriving when all 8 places of a gateway are
                        taken replaces the oldest one that never sent a
                        request, else the one idle longest
  --log-level LEVEL     error, warn (default), info or debug; the log goes
                        to standard error
  --help                print this help and exit

Ports and devices: by default COM1..COM4 open /dev/ttyS0../dev/ttyS3 (the
on-board UARTs) and COM5..COM8 open /dev/ttyUSB0../dev/ttyUSB3 (USB
adapters). The configuration file changes that with one COMn=PATH a line;
blank lines and lines starting with # are skipped. Its default location is
$XDG_CONFIG_HOME/regprobe/serial-ports.conf, or
~/.config/regprobe/serial-ports.conf; it is read when it exists. --port
options apply last.

Exchanges: a request goes out once the line has been quiet for the silent
interval (RTU); the answer ends as soon as its function says it is complete,
or for functions of unknown length when the line falls silent again (RTU) or
at CR LF (ASCII). An RTU answer cut by a silence, or with junk ahead of it,
fails its CRC. After a failed exchange the port waits the error delay and
drops whatever arrived late. A device that disappears closes its port;
Connect opens it again. A port's gateway answers exception 0x0A when the
port is not open or its device went away, and 0x0B when the device gave no
valid answer in time (a wrong CRC or LRC included).

What Linux cannot do: 1.5 stop bits (2 are used, with a warning) and DSR
flow control (with DTR/DSR flow control asked for, DTR is raised and DSR is
not waited for, with a warning).
)";

namespace {
bool FileExists(const CString& strPath) {
    struct stat st {};
    return !strPath.empty() && ::stat(strPath.c_str(), &st) == 0;
}
}  // namespace

CServerOptions::EParse CServerOptions::Parse(int argc, const char* const* argv, CString& strError) {
    constexpr long long MAX_SECONDS = 86400;
    std::vector<CString> assignments;
    const auto handle = [&](const CString& strName, const CString& strValue, CString& strWhy) {
        long long nSeconds = 0;
        if (strName == "--foreground" || strName == "--activated") {
            (strName == "--foreground" ? m_bForeground : m_bActivated) = true;
        } else if (strName == "--linger" || strName == "--gateway-idle") {
            if (!CCommandLine::ParseNumber(strName, strValue, 0, MAX_SECONDS, nSeconds, strWhy)) {
                return false;
            }
            (strName == "--linger" ? m_nLingerSeconds : m_nGatewayIdleSeconds) = int(nSeconds);
        } else if (strName == "--listen") {
            m_strListen = strValue;
        } else if (strName == "--key-file") {
            m_strKeyFile = strValue;
        } else if (strName == "--port") {
            assignments.push_back(strValue);
        } else if (strName == "--config") {
            m_strConfig = strValue;
        } else if (!CServerLog::ParseLevel(strValue, m_logLevel)) {
            strWhy = "--log-level takes error, warn, info or debug, not '" + strValue + "'";
            return false;
        }
        return true;
    };
    const EParse result = CCommandLine::Parse(argc, argv,
                                              {{"--foreground", false},
                                               {"--activated", false},
                                               {"--linger", true},
                                               {"--gateway-idle", true},
                                               {"--listen", true},
                                               {"--key-file", true},
                                               {"--port", true},
                                               {"--config", true},
                                               {"--log-level", true}},
                                              handle, strError);
    if (result != EParse::RUN) {
        return result;
    }
    if (m_bForeground && m_bActivated) {
        strError = "--foreground and --activated exclude each other";
        return EParse::BAD;
    }
    if (!m_strListen.empty() && m_strKeyFile.empty()) {
        strError = "--listen needs --key-file";
        return EParse::BAD;
    }
    return LoadPorts(assignments, strError) ? EParse::RUN : EParse::BAD;
}

bool CServerOptions::LoadPorts(const std::vector<CString>& assignments, CString& strError) {
    CString strConfig = m_strConfig;
    if (strConfig.empty()) {
        strConfig = CPortMap::DefaultConfigPath();
        if (!FileExists(strConfig)) {
            strConfig.clear();
        }
    }
    if (!strConfig.empty() && !m_portMap.LoadFile(strConfig, strError)) {
        return false;
    }
    for (const CString& strAssignment : assignments) {
        if (!m_portMap.Assign(strAssignment, strError)) {
            strError = "--port: " + strError;
            return false;
        }
    }
    return true;
}
