// Command-line poller: reads a device over Modbus/TCP at an interval and prints
// the decoded values, the status text and the running statistics.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/CommandLine.h"
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
    "Polls a Modbus/TCP device and prints the values read.\n"
    "\n"
    "  --host HOST        server host name or dotted address (default 127.0.0.1)\n"
    "  --port N           server TCP port, 1-65535 (default 502)\n"
    "  --timeout MS       time-out of each exchange in milliseconds (default 10000)\n"
    "  --reconnect        open a new connection for every exchange\n"
    "  --tries N          attempts per read, 1-100 (default 1)\n"
    "  --device N         device (unit) address, 0-255 (default 1)\n"
    "  --function F       coils | inputs | holding | input-registers | loopback\n"
    "                     (default holding)\n"
    "  --address N        starting address, 0-65535, sent as given (default 0)\n"
    "  --count N          number of values, 0-255 (default 10)\n"
    "  --type T           char | int16 | uint16 | float | float-reverse | double |\n"
    "                     double-reverse | int32-ORDER | uint32-ORDER |\n"
    "                     float32-ORDER | hex16 | bin16, ORDER one of abcd, cdab,\n"
    "                     badc, dcba (registers only; default uint16)\n"
    "  --interval MS      pause between reads (default 1000, at most 10000)\n"
    "  --cycles N         stop after N reads (default: until interrupted)\n"
    "  --help             show this text\n"
    "\n"
    "Each read prints its values on one line, labelled by the address of the\n"
    "register (or bit) each comes from as the test window labels them (a float\n"
    "at 10 is [10]=...), then the status text with the read's time, then the\n"
    "statistics line: reads, errors and the reads per second that the read's\n"
    "own time allows (every tenth read: the last ten's average). A failed read\n"
    "prints no values. Exit status 0 when every read succeeded, 1 otherwise,\n"
    "2 for bad options.\n"
    "\n"
    "Example: regprobe-poll --port 1502 --address 10 --count 1 --type float --cycles 3\n";

struct Options {
    std::string strHost = "127.0.0.1";
    long nPort = 502;
    long nTimeout = 10000;
    bool bReconnect = false;
    long nTries = 1;
    long nDevice = 1;
    std::string strFunction = "holding";
    long nAddress = 0;
    long nCount = 10;
    std::string strType = "uint16";
    long nInterval = 1000;
    long nCycles = -1;
};

// The read functions and data types by name, in the test window's order.
const char* const kFunctions[READ_FUNCTION_COUNT] = {"loopback", "holding", "input-registers",
                                                     "coils", "inputs"};
const char* const kTypes[DATA_TYPE_COUNT] = {
    "char",           "int16",       "uint16",      "float",        "float-reverse", "double",
    "double-reverse", "int32-abcd",  "int32-cdab",  "int32-badc",   "int32-dcba",    "uint32-abcd",
    "uint32-cdab",    "uint32-badc", "uint32-dcba", "float32-abcd", "float32-cdab",  "float32-badc",
    "float32-dcba",   "hex16",       "bin16"};

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
                                       {"--count", &Options::nCount, 0, 255},
                                       {"--interval", &Options::nInterval, 0, 10000},
                                       {"--cycles", &Options::nCycles, 1, LONG_MAX}};
    for (const CNumber& number : kNumbers) {
        if (strName == number.pszName) {
            long long n = 0;
            if (!CCommandLine::ParseNumber(strName, strValue, number.nMin, number.nMax, n,
                                           strError)) {
                return false;
            }
            o.*number.pField = long(n);
            return true;
        }
    }
    if (strName == "--host") {
        o.strHost = strValue;
    } else if (strName == "--reconnect") {
        o.bReconnect = true;
    } else if (strName == "--function") {
        o.strFunction = strValue;
        strError = "unknown function " + strValue;
        return IndexOf(kFunctions, READ_FUNCTION_COUNT, strValue) >= 0;
    } else if (strName == "--type") {
        o.strType = strValue;
        strError = "unknown type " + strValue;
        return IndexOf(kTypes, DATA_TYPE_COUNT, strValue) >= 0;
    }
    return true;
}

void ParseOptions(int argc, char** argv, Options& o) {
    CString strError;
    const CCommandLine::EResult result = CCommandLine::Parse(
        argc, argv,
        {{"--host", true},
         {"--port", true},
         {"--timeout", true},
         {"--reconnect", false},
         {"--tries", true},
         {"--device", true},
         {"--function", true},
         {"--address", true},
         {"--count", true},
         {"--type", true},
         {"--interval", true},
         {"--cycles", true}},
        [&](const CString& strName, const CString& strValue, CString& strWhy) {
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
}

// The rows on one line, each labelled by its register (or bit) address.
std::string JoinRows(const std::vector<CString>& rows) {
    std::string strLine;
    for (CString strRow : rows) {
        while (!strRow.empty() && strRow.back() == ' ') {
            strRow.pop_back();
        }
        strLine += (strLine.empty() ? "" : " ") + strRow;
    }
    return strLine;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    ParseOptions(argc, argv, o);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    CRemoteModbus m;
    m.m_nTries = WORD(o.nTries);
    m.SetHost(o.strHost);
    m.SetPort(WORD(o.nPort));
    m.SetTimeout(DWORD(o.nTimeout));
    m.SetReconnect(o.bReconnect ? TRUE : FALSE);
    if (!m.Connect(CString(), 0, 0)) {
        std::printf("Connection Error: %s:%ld\n", o.strHost.c_str(), o.nPort);
        if (!o.bReconnect) {
            return 1;
        }
    }

    const CReadSettings settings{&m,
                                 IndexOf(kFunctions, READ_FUNCTION_COUNT, o.strFunction),
                                 IndexOf(kTypes, DATA_TYPE_COUNT, o.strType),
                                 std::to_string(o.nDevice),
                                 std::to_string(o.nAddress),
                                 std::to_string(o.nCount),
                                 CString()};
    CPollStatistics statistics;
    long nReads = 0;
    while (!g_bStop && (o.nCycles < 0 || nReads < o.nCycles)) {
        const CReadResult result = ReadOnce(settings);
        ++nReads;
        const CString strStatistics = statistics.AddCycle(result);
        // Zero-filled rows of a failed read are not the device's values.
        if (!result.Failed() && result.list.bWroteRows) {
            std::printf("%s\n", JoinRows(result.list.rows).c_str());
        }
        std::printf("%s (%.3f ms)\n%s\n", result.strStatus.c_str(), result.qwMicros / 1000.0,
                    strStatistics.c_str());
        std::fflush(stdout);
        for (long waited = 0; waited < o.nInterval && !g_bStop; waited += 50) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::min<long>(50, o.nInterval - waited)));
        }
    }
    return statistics.m_nErrors == 0 ? 0 : 1;
}
