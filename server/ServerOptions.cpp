#include "ServerOptions.h"

#include <sys/stat.h>

#include <cstdlib>
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
                        needed with --listen
  --port COMn=PATH      the device that COMn opens, e.g.
                        --port COM1=/dev/ttyUSB0; repeat for several ports
  --config FILE         read port assignments from FILE instead of the
                        default file (see below)
  --gateway-idle SECONDS
                        disconnect a gateway client that has sent no
                        request for this long (default 60, 0 never); a
                        client arriving when all 8 places of a gateway are
                        taken replaces the one idle longest
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
    std::vector<CString> assignments;
    for (int i = 1; i < argc; ++i) {
        CString strArg = argv[i];
        if (strArg == "--help" || strArg == "-h") {
            return EParse::HELP;
        }
        if (strArg == "--foreground" || strArg == "--activated") {
            (strArg == "--foreground" ? m_bForeground : m_bActivated) = true;
            continue;
        }
        CString strValue;
        const size_t nEquals = strArg.find('=');
        const bool bInline = strArg.rfind("--", 0) == 0 && nEquals != CString::npos;
        if (bInline) {
            strValue = strArg.substr(nEquals + 1);
            strArg.resize(nEquals);
        }
        static const char* const VALUE_OPTIONS[] = {"--linger",      "--listen", "--key-file",
                                                    "--port",        "--config", "--log-level",
                                                    "--gateway-idle"};
        bool bKnown = false;
        for (const char* pszName : VALUE_OPTIONS) {
            bKnown = bKnown || strArg == pszName;
        }
        if (!bKnown) {
            strError = "unknown option " + strArg;
            return EParse::BAD;
        }
        if (!bInline) {
            if (i + 1 >= argc) {
                strError = strArg + " needs a value";
                return EParse::BAD;
            }
            strValue = argv[++i];
        }
        if (strArg == "--linger") {
            char* pszEnd = nullptr;
            const long nSeconds = std::strtol(strValue.c_str(), &pszEnd, 10);
            if (strValue.empty() || *pszEnd != '\0' || nSeconds < 0 || nSeconds > 86400) {
                strError = "--linger takes 0..86400 seconds, not '" + strValue + "'";
                return EParse::BAD;
            }
            m_nLingerSeconds = int(nSeconds);
        } else if (strArg == "--gateway-idle") {
            char* pszEnd = nullptr;
            const long nSeconds = std::strtol(strValue.c_str(), &pszEnd, 10);
            if (strValue.empty() || *pszEnd != '\0' || nSeconds < 0 || nSeconds > 86400) {
                strError = "--gateway-idle takes 0..86400 seconds, not '" + strValue + "'";
                return EParse::BAD;
            }
            m_nGatewayIdleSeconds = int(nSeconds);
        } else if (strArg == "--listen") {
            m_strListen = strValue;
        } else if (strArg == "--key-file") {
            m_strKeyFile = strValue;
        } else if (strArg == "--port") {
            assignments.push_back(strValue);
        } else if (strArg == "--config") {
            m_strConfig = strValue;
        } else if (!CServerLog::ParseLevel(strValue, m_logLevel)) {
            strError = "--log-level takes error, warn, info or debug, not '" + strValue + "'";
            return EParse::BAD;
        }
    }
    if (m_bForeground && m_bActivated) {
        strError = "--foreground and --activated exclude each other";
        return EParse::BAD;
    }
    if (!m_strListen.empty() && m_strKeyFile.empty()) {
        strError = "--listen needs --key-file";
        return EParse::BAD;
    }
    CString strConfig = m_strConfig;
    if (strConfig.empty()) {
        strConfig = CPortMap::DefaultConfigPath();
        if (!FileExists(strConfig)) {
            strConfig.clear();
        }
    }
    if (!strConfig.empty() && !m_portMap.LoadFile(strConfig, strError)) {
        return EParse::BAD;
    }
    for (const CString& strAssignment : assignments) {
        if (!m_portMap.Assign(strAssignment, strError)) {
            strError = "--port: " + strError;
            return EParse::BAD;
        }
    }
    return EParse::RUN;
}
