// Command-line poller: reads a device at an interval and prints the decoded
// values, the status text and the running statistics; or writes one value
// as the test window does. Output is text for a person, or CSV or JSON.
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "PollOutput.h"
#include "connections/ConfigFile.h"
#include "connections/Connection.h"
#include "core/Traffic.h"
#include "platform/CommandLine.h"
#include "platform/com/ComApi.h"
#include "testview/PollStatistics.h"
#include "testview/ReadCycle.h"
#include "testview/RowFormat.h"
#include "transport/RemoteModbus.h"

namespace {

volatile std::sig_atomic_t g_bStop = 0;

void OnSignal(int) {
    g_bStop = 1;
}

const char kUsage[] =
    "Usage: regprobe-poll [options]\n"
    "Polls a Modbus device and prints the values read, or writes one value.\n"
    "\n"
    "The device, a saved connection:\n"
    "  --config FILE      a connections file saved by the application (Regpr.cfg)\n"
    "  --connection NAME  the connection of that name in it: Open Modbus directly,\n"
    "                     Local/DCom through modbus-serial-server, started when it\n"
    "                     is not running, with the file's line settings\n"
    "or given here (Modbus/TCP):\n"
    "  --host HOST        Modbus/TCP server host name or dotted address (default 127.0.0.1)\n"
    "  --port N           its TCP port, 1-65535 (default 502)\n"
    "  --timeout MS       time-out of each exchange in milliseconds (default 10000)\n"
    "  --reconnect        open a new connection for every exchange\n"
    "  --tries N          attempts per exchange, 1-100 (default 1; with\n"
    "                     --connection, the saved connection's)\n"
    "\n"
    "What to read:\n"
    "  --device N         device (unit) address, 0-255 (default 1)\n"
    "  --function F       coils | inputs | holding | input-registers | loopback\n"
    "                     (default holding)\n"
    "  --address N        starting address, 0-65535, sent as given (default 0)\n"
    "  --quantity N       number of values, 0-255 (default 10)\n"
    "  --type T           char | int16 | uint16 | float | float-reverse | double |\n"
    "                     double-reverse | int32-ORDER | uint32-ORDER |\n"
    "                     float32-ORDER | hex16 | bin16, ORDER one of abcd, cdab,\n"
    "                     badc, dcba (registers only; default uint16)\n"
    "\n"
    "How often:\n"
    "  --interval MS      pause between reads, 0-10000 (default 1000)\n"
    "  --count N          stop after N reads (default: until interrupted);\n"
    "                     --cycles N is the same\n"
    "  --once             one read: exit status 0 when it succeeded, 1 when it\n"
    "                     failed (the status text on standard error)\n"
    "\n"
    "Writing (done once, before any read; with --once or --count the reads follow):\n"
    "  --write VALUE      the value as typed in the test window, read by --type\n"
    "  --write-function F register | coil (default register)\n"
    "  --write-address N  address to write, 0-65535 (default: --address)\n"
    "\n"
    "Output:\n"
    "  --format F         text (default) | csv | json\n"
    "  --trace            every exchange's bytes on standard error, as the\n"
    "                     traffic monitor shows them\n"
    "  --help             show this text\n"
    "\n"
    "The numbers of options are decimal or hexadecimal with 0x (--address 0x160);\n"
    "a --write value is read as the test window reads it.\n"
    "\n"
    "A Modbus/TCP connection (--host, or a saved Open Modbus one) that a failed\n"
    "exchange dropped, or that could not be made at the start, is made again\n"
    "before the next read, after a pause that doubles from 50 ms up to the\n"
    "interval or 1 s, whichever is longer; with --reconnect every exchange makes\n"
    "its own. A read without a connection is a failed read (\"Socket not\n"
    "connected\").\n"
    "\n"
    "Text prints for each read its values on one line, labelled by the address\n"
    "of the register (or bit) each comes from as the test window labels them (a\n"
    "float at 10 is [10]=...), then the status text with the read's time, then\n"
    "the statistics line: reads, errors and the reads per second that the read's\n"
    "own time allows (every tenth read: the last ten's average). A failed read\n"
    "prints no values. Control characters of a char value are written \\n, \\r or\n"
    "\\xNN, a backslash \\\\. CSV prints a header, then one line per value (time,\n"
    "connection, device, function, type, address, value, status, read_ms); a\n"
    "read without values is one line with address and value empty. A field with\n"
    "a comma, a quote or a line end is quoted (RFC 4180); a NUL character is an\n"
    "empty value. JSON prints one array with an object per read and its values;\n"
    "numbers are exact.\n"
    "\n"
    "Exit status: 0 when every read (and the write) succeeded, 1 otherwise,\n"
    "2 for bad options.\n"
    "\n"
    "Examples:\n"
    "  regprobe-poll --port 1502 --address 10 --quantity 1 --type float --count 3\n"
    "  regprobe-poll --host 192.0.2.7 --once --format json --quantity 4\n"
    "  regprobe-poll --port 1502 --type int32-cdab --address 40 --write -100000 --once\n"
    "  regprobe-poll --port 1502 --write-function coil --write-address 3 --write 1\n"
    "  regprobe-poll --config ~/Regpr.cfg --connection com1 --once --format csv\n";

struct Options {
    std::string strConfig;
    std::string strConnection;
    std::string strHost = "127.0.0.1";
    long nPort = 502;
    long nTimeout = 10000;
    bool bReconnect = false;
    long nTries = 1;
    bool bTriesGiven = false;  // a saved connection keeps its own otherwise
    long nDevice = 1;
    std::string strFunction = "holding";
    long nAddress = 0;
    long nQuantity = 10;
    std::string strType = "uint16";
    long nInterval = 1000;
    long nCount = -1;  // reads; -1 until interrupted
    bool bOnce = false;
    bool bWrite = false;
    std::string strWriteValue;
    std::string strWriteFunction = "register";
    long nWriteAddress = -1;  // -1: the read address
    std::string strFormat = "text";
    bool bTrace = false;
};

// The read functions and data types by name, in the test window's order.
const char* const kFunctions[READ_FUNCTION_COUNT] = {"loopback", "holding", "input-registers",
                                                     "coils", "inputs"};
const char* const kTypes[DATA_TYPE_COUNT] = {
    "char",           "int16",       "uint16",      "float",        "float-reverse", "double",
    "double-reverse", "int32-abcd",  "int32-cdab",  "int32-badc",   "int32-dcba",    "uint32-abcd",
    "uint32-cdab",    "uint32-badc", "uint32-dcba", "float32-abcd", "float32-cdab",  "float32-badc",
    "float32-dcba",   "hex16",       "bin16"};
const char* const kWriteFunctions[WRITE_FUNCTION_COUNT] = {"register", "coil"};

int IndexOf(const char* const* names, int nNames, const std::string& strName) {
    for (int i = 0; i < nNames; ++i) {
        if (strName == names[i]) {
            return i;
        }
    }
    return -1;
}

[[noreturn]] void Usage(const std::string& strError) {
    std::fprintf(stderr, "regprobe-poll: %s (see --help)\n", strError.c_str());
    std::exit(2);
}

// A name that must be one of a list.
bool SetChoice(std::string& strField, const CString& strValue, const char* const* names, int nNames,
               const char* pszWhat, CString& strError) {
    strField = strValue;
    strError = std::string("unknown ") + pszWhat + " " + strValue;
    return IndexOf(names, nNames, strValue) >= 0;
}

// Sets the option's field; false with strError set for a bad value.
bool SetOption(Options& o, const CString& strName, const CString& strValue, CString& strError) {
    struct CNumber {
        const char* pszName;
        long Options::*pField;
        long long nMin;
        long long nMax;
    };
    static const CNumber kNumbers[] = {{"--port", &Options::nPort, 1, 65535},
                                       {"--timeout", &Options::nTimeout, 1, 0xFFFFFFFFLL},
                                       {"--tries", &Options::nTries, 1, 100},
                                       {"--device", &Options::nDevice, 0, 255},
                                       {"--address", &Options::nAddress, 0, 65535},
                                       {"--quantity", &Options::nQuantity, 0, 255},
                                       {"--interval", &Options::nInterval, 0, 10000},
                                       {"--count", &Options::nCount, 1, LONG_MAX},
                                       {"--cycles", &Options::nCount, 1, LONG_MAX},
                                       {"--write-address", &Options::nWriteAddress, 0, 65535}};
    for (const CNumber& number : kNumbers) {
        if (strName == number.pszName) {
            long long n = 0;
            if (!CCommandLine::ParseNumber(strName, strValue, number.nMin, number.nMax, n, strError,
                                           true)) {
                return false;
            }
            o.*number.pField = long(n);
            return true;
        }
    }
    static const char* const kFormats[] = {"text", "csv", "json"};
    if (strName == "--function") {
        return SetChoice(o.strFunction, strValue, kFunctions, READ_FUNCTION_COUNT, "function",
                         strError);
    }
    if (strName == "--type") {
        return SetChoice(o.strType, strValue, kTypes, DATA_TYPE_COUNT, "type", strError);
    }
    if (strName == "--write-function") {
        return SetChoice(o.strWriteFunction, strValue, kWriteFunctions, WRITE_FUNCTION_COUNT,
                         "write function", strError);
    }
    if (strName == "--format") {
        return SetChoice(o.strFormat, strValue, kFormats, 3, "format", strError);
    }
    if (strName == "--host" || strName == "--config" || strName == "--connection") {
        (strName == "--host"     ? o.strHost
         : strName == "--config" ? o.strConfig
                                 : o.strConnection) = strValue;
    } else if (strName == "--write") {
        o.bWrite = true;
        o.strWriteValue = strValue;
    } else {
        // The flags.
        (strName == "--reconnect" ? o.bReconnect : strName == "--once" ? o.bOnce : o.bTrace) = true;
    }
    return true;
}

void ParseOptions(int argc, char** argv, Options& o) {
    CString strError;
    bool bCountGiven = false;
    bool bAddressGiven = false;
    const CCommandLine::EResult result = CCommandLine::Parse(
        argc, argv, {{"--config", true},        {"--connection", true}, {"--host", true},
                     {"--port", true},          {"--timeout", true},    {"--reconnect", false},
                     {"--tries", true},         {"--device", true},     {"--function", true},
                     {"--address", true},       {"--quantity", true},   {"--type", true},
                     {"--interval", true},      {"--count", true},      {"--cycles", true},
                     {"--once", false},         {"--write", true},      {"--write-function", true},
                     {"--write-address", true}, {"--format", true},     {"--trace", false}},
        [&](const CString& strName, const CString& strValue, CString& strWhy) {
            bCountGiven = bCountGiven || strName == "--count" || strName == "--cycles";
            o.bTriesGiven = o.bTriesGiven || strName == "--tries";
            bAddressGiven = bAddressGiven || strName == "--host" || strName == "--port" ||
                            strName == "--timeout" || strName == "--reconnect";
            return SetOption(o, strName, strValue, strWhy);
        },
        strError);
    if (result == CCommandLine::EResult::HELP) {
        std::fputs(kUsage, stdout);
        std::exit(0);
    }
    if (result == CCommandLine::EResult::BAD) {
        Usage(strError);
    }
    if (o.strConfig.empty() != o.strConnection.empty()) {
        Usage("--config and --connection go together");
    }
    if (!o.strConfig.empty() && bAddressGiven) {
        Usage("a saved connection brings its own address and time-out");
    }
    if (o.bOnce && bCountGiven) {
        Usage("--once and --count exclude each other");
    }
    if (o.bOnce) {
        o.nCount = 1;
    } else if (o.bWrite && !bCountGiven) {
        o.nCount = 0;  // only the write
    }
}

// --trace: each exchange's lines on standard error as it completes.
class CTracePrinter : public ITrafficObserver {
public:
    explicit CTracePrinter(std::string strName) : m_strName(std::move(strName)) {}
    void OnExchange(CTrafficExchange&& exchange) override {
        for (const std::string& strLine : Traffic::FormatLines(exchange, m_strName)) {
            std::fprintf(stderr, "%s\n", strLine.c_str());
        }
    }

private:
    std::string m_strName;
};

// The write, once; false when it failed or nothing could be written.
bool Write(const Options& o, CModbus* pModbus, int* pnStatus) {
    CWriteSettings w;
    w.pModbus = pModbus;
    w.nWriteFunction = IndexOf(kWriteFunctions, WRITE_FUNCTION_COUNT, o.strWriteFunction);
    w.nDataType = IndexOf(kTypes, DATA_TYPE_COUNT, o.strType);
    w.strDevice = std::to_string(o.nDevice);
    w.strAddress = std::to_string(o.nWriteAddress >= 0 ? o.nWriteAddress : o.nAddress);
    w.strValue = o.strWriteValue;
    const CWriteResult result = WriteOnce(w);
    if (!result.bWritten) {
        // Nothing went to the device: the value cannot be written as this type.
        std::fprintf(stderr, "regprobe-poll: nothing written: %s (see --help)\n",
                     result.strError.empty() ? "no value" : result.strError.c_str());
        *pnStatus = 2;
        return false;
    }
    if (result.wStatus != 0) {
        std::fprintf(stderr, "%s\n", result.strError.c_str());
        *pnStatus = 1;
        return false;
    }
    return true;
}

// Waits nMillis in steps short enough for SIGINT and SIGTERM to end it.
void Sleep(long nMillis) {
    for (long waited = 0; waited < nMillis && !g_bStop; waited += 50) {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<long>(50, nMillis - waited)));
    }
}

// Connects a Modbus/TCP master again before a read once a failed exchange
// dropped its connection; without it every later read would fail at once.
// The pause before each try doubles up to the interval or 1 s, whichever is
// longer, so that a device that is gone is not hammered at interval 0.
class CReconnector {
public:
    // Null, or a master that connects for each exchange by itself: nothing to do.
    CReconnector(CRemoteModbus* pTcp, long nInterval)
        : m_pTcp(pTcp != nullptr && !pTcp->GetReconnect() ? pTcp : nullptr),
          m_nMaxPause(std::max(nInterval, 1000L)) {}

    bool Due() { return m_pTcp != nullptr && !m_pTcp->IsConnected(); }
    // The wait before a read that connects first: at least the interval.
    long Pause(long nInterval) const { return std::max(nInterval, m_nPause); }
    // Same host, port and time-out; a failure shows in the read that follows.
    void Connect() {
        m_pTcp->Connect(CString(), 0, 0);
        m_nPause = std::min(m_nPause * 2, m_nMaxPause);
    }
    void ReadSucceeded() { m_nPause = kFirstPause; }

private:
    static constexpr long kFirstPause = 50;
    CRemoteModbus* m_pTcp;
    long m_nMaxPause;
    long m_nPause = kFirstPause;
};

// Reads until the count is done or a signal comes; the exit status.
int Poll(const Options& o, CModbus* pModbus, CRemoteModbus* pTcp, CPollOutput& output) {
    CReadSettings settings;
    settings.pModbus = pModbus;
    settings.nReadFunction = IndexOf(kFunctions, READ_FUNCTION_COUNT, o.strFunction);
    settings.nDataType = IndexOf(kTypes, DATA_TYPE_COUNT, o.strType);
    settings.strDevice = std::to_string(o.nDevice);
    settings.strAddress = std::to_string(o.nAddress);
    settings.strQuantity = std::to_string(o.nQuantity);
    CPollStatistics statistics;
    CReconnector reconnector(pTcp, o.nInterval);
    long nReads = 0;
    while (!g_bStop && (o.nCount < 0 || nReads < o.nCount)) {
        // The first read follows the connection made at the start, or its failure.
        const bool bConnect = nReads > 0 && reconnector.Due();
        Sleep(nReads == 0 ? 0 : bConnect ? reconnector.Pause(o.nInterval) : o.nInterval);
        if (g_bStop) {
            break;
        }
        if (bConnect) {
            reconnector.Connect();
        }
        const auto tNow = std::chrono::system_clock::now();
        const CReadResult result = ReadOnce(settings);
        ++nReads;
        if (!result.Failed()) {
            reconnector.ReadSucceeded();
        }
        output.Read(
            std::chrono::duration_cast<std::chrono::milliseconds>(tNow.time_since_epoch()).count(),
            result, statistics.AddCycle(result));
        if (o.bOnce && result.Failed()) {
            std::fprintf(stderr, "%s\n", result.strStatus.c_str());
        }
    }
    output.End();
    return statistics.m_nErrors == 0 ? 0 : 1;
}

}  // namespace

// What the device is called in the output and the trace.
std::string DeviceName(const Options& o) {
    return o.strConfig.empty() ? o.strHost + ":" + std::to_string(o.nPort) : o.strConnection;
}

// The master: a saved connection, or one made from the options. Open is
// false, with the reason on standard error, when there is none to use.
class CDevice {
public:
    bool Open(const Options& o) {
        if (o.strConfig.empty()) {
            m_tcp.m_nTries = WORD(o.nTries);
            m_tcp.SetHost(o.strHost);
            m_tcp.SetPort(WORD(o.nPort));
            m_tcp.SetTimeout(DWORD(o.nTimeout));
            m_tcp.SetReconnect(o.bReconnect ? TRUE : FALSE);
            m_pModbus = &m_tcp;
            m_pTcp = &m_tcp;
            // Without a connection the reads fail, and are printed as they fail,
            // until one can be made.
            if (!m_tcp.Connect(CString(), 0, 0)) {
                std::fprintf(stderr, "Connection Error: %s\n", DeviceName(o).c_str());
            }
            return true;
        }
        // Local/DCom connections reach their server through the COM subset.
        m_bCom = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        CString strError;
        CConnection* pConnection =
            LoadConnection(m_connections, o.strConfig, o.strConnection, &strError);
        if (pConnection == nullptr) {
            std::fprintf(stderr, "regprobe-poll: %s\n", strError.c_str());
            return false;
        }
        m_pModbus = pConnection->m_pModbus;
        if (o.bTriesGiven) {
            m_pModbus->m_nTries = WORD(o.nTries);
        }
        // Local/DCom records reach their line through the server, which
        // keeps it open; only an Open Modbus record has a connection to lose.
        m_pTcp = pConnection->GetRemoteModbus();
        if (m_pTcp != nullptr && !m_pTcp->IsConnected()) {
            std::fprintf(stderr, "Connection Error: %s\n", DeviceName(o).c_str());
        }
        return true;
    }
    ~CDevice() {
        m_connections.RemoveAll();  // the automation objects go before the COM subset
        if (m_bCom) {
            CoUninitialize();
        }
    }
    CModbus* Modbus() const { return m_pModbus; }
    // The Modbus/TCP master to connect again when it lost its connection.
    CRemoteModbus* Tcp() const { return m_pTcp; }

private:
    CRemoteModbus m_tcp;
    CConnections m_connections;
    CModbus* m_pModbus = nullptr;
    CRemoteModbus* m_pTcp = nullptr;
    bool m_bCom = false;
};

int main(int argc, char** argv) {
    Options o;
    ParseOptions(argc, argv, o);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    const std::string strName = DeviceName(o);
    CTracePrinter trace(strName);
    if (o.bTrace) {
        Traffic::SetObserver(&trace);
    }
    int nStatus = 0;
    {
        CDevice device;
        if (!device.Open(o)) {
            nStatus = 1;
        } else if (o.bWrite && !Write(o, device.Modbus(), &nStatus)) {
            o.nCount = 0;
        }
        if (nStatus == 0 && o.nCount != 0) {
            const CPollContext context{strName, o.nDevice, o.strFunction, o.strType};
            nStatus = Poll(o, device.Modbus(), device.Tcp(),
                           *CPollOutput::Make(o.strFormat, context, stdout));
        }
    }
    Traffic::SetObserver(nullptr);
    return nStatus;
}
