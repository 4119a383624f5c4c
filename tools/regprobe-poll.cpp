// Command-line poller: reads a device over Modbus/TCP at an interval and prints
// the decoded values, the status text and the running statistics.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/PerfCounter.h"
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
    "  --port N           server TCP port (default 502)\n"
    "  --timeout MS       time-out of each exchange in milliseconds (default 10000)\n"
    "  --reconnect        open a new connection for every exchange\n"
    "  --tries N          attempts per read (default 1)\n"
    "  --device N         device (unit) address (default 1)\n"
    "  --function F       coils | inputs | holding | input-registers | loopback\n"
    "                     (default holding)\n"
    "  --address N        starting address, sent as given (default 0)\n"
    "  --count N          number of values (default 10)\n"
    "  --type T           char | int16 | uint16 | float | float-reverse | double |\n"
    "                     double-reverse (registers only; default uint16)\n"
    "  --interval MS      pause between reads (default 1000, at most 10000)\n"
    "  --cycles N         stop after N reads (default: until interrupted)\n"
    "  --help             show this text\n";

struct Options {
    std::string strHost = "127.0.0.1";
    WORD nPort = 502;
    DWORD dwTimeout = 10000;
    bool bReconnect = false;
    WORD nTries = 1;
    WORD nDevice = 1;
    std::string strFunction = "holding";
    WORD wAddress = 0;
    WORD wCount = 10;
    std::string strType = "uint16";
    DWORD dwInterval = 1000;
    long nCycles = -1;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "regprobe-poll: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--host") {
            o.strHost = value();
        } else if (arg == "--port") {
            o.nPort = static_cast<WORD>(std::atoi(value()));
        } else if (arg == "--timeout") {
            o.dwTimeout = static_cast<DWORD>(std::atol(value()));
        } else if (arg == "--reconnect") {
            o.bReconnect = true;
        } else if (arg == "--tries") {
            o.nTries = static_cast<WORD>(std::atoi(value()));
        } else if (arg == "--device") {
            o.nDevice = static_cast<WORD>(std::atoi(value()));
        } else if (arg == "--function") {
            o.strFunction = value();
        } else if (arg == "--address") {
            o.wAddress = static_cast<WORD>(std::atoi(value()));
        } else if (arg == "--count") {
            o.wCount = static_cast<WORD>(std::atoi(value()));
        } else if (arg == "--type") {
            o.strType = value();
        } else if (arg == "--interval") {
            o.dwInterval = static_cast<DWORD>(std::atol(value()));
        } else if (arg == "--cycles") {
            o.nCycles = std::atol(value());
        } else {
            std::fprintf(stderr, "regprobe-poll: unknown option %s (see --help)\n", arg.c_str());
            return false;
        }
    }
    static const char* const kFunctions[] = {"coils", "inputs", "holding", "input-registers",
                                             "loopback"};
    static const char* const kTypes[] = {"char",          "int16",  "uint16",        "float",
                                         "float-reverse", "double", "double-reverse"};
    bool bFunction = false;
    for (const char* f : kFunctions) {
        bFunction = bFunction || o.strFunction == f;
    }
    bool bType = false;
    for (const char* t : kTypes) {
        bType = bType || o.strType == t;
    }
    if (!bFunction || !bType) {
        std::fprintf(stderr, "regprobe-poll: unknown %s (see --help)\n",
                     bFunction ? "type" : "function");
        return false;
    }
    if (o.dwInterval > 10000) {
        std::fprintf(stderr, "regprobe-poll: the interval must be at most 10000 ms\n");
        return false;
    }
    return true;
}

// One read as the options select it; prints the rows and returns the status.
WORD ReadOnce(CRemoteModbus& m, const Options& o, std::string& rows) {
    char cell[64];
    rows.clear();
    WORD wStatus;
    if (o.strFunction == "loopback") {
        return m.LoopbackTest(o.nDevice);
    }
    if (o.strFunction == "coils" || o.strFunction == "inputs") {
        CByteArray states(o.wCount);
        wStatus = o.strFunction == "coils"
                      ? m.ReadOutputStatus(o.nDevice, o.wAddress, o.wCount, states)
                      : m.ReadInputStatus(o.nDevice, o.wAddress, o.wCount, states);
        for (size_t i = 0; i < states.size(); ++i) {
            std::snprintf(cell, sizeof cell, "[%zu]=%u ", i, states[i]);
            rows += cell;
        }
        return wStatus;
    }
    const bool bHolding = o.strFunction == "holding";
    if (o.strType == "float" || o.strType == "float-reverse") {
        CFloatArray values(o.wCount);
        BOOL bReverse = o.strType == "float-reverse";
        wStatus =
            bHolding ? m.ReadOutputRegistersFloat(o.nDevice, o.wAddress, o.wCount, values, bReverse)
                     : m.ReadInputRegistersFloat(o.nDevice, o.wAddress, o.wCount, values, bReverse);
        for (size_t i = 0; i < values.size(); ++i) {
            std::snprintf(cell, sizeof cell, "[%zu]=%g ", i, values[i]);
            rows += cell;
        }
        return wStatus;
    }
    if (o.strType == "double" || o.strType == "double-reverse") {
        CDoubleArray values(o.wCount);
        BOOL bReverse = o.strType == "double-reverse";
        wStatus =
            bHolding
                ? m.ReadOutputRegistersDouble(o.nDevice, o.wAddress, o.wCount, values, bReverse)
                : m.ReadInputRegistersDouble(o.nDevice, o.wAddress, o.wCount, values, bReverse);
        for (size_t i = 0; i < values.size(); ++i) {
            std::snprintf(cell, sizeof cell, "[%zu]=%g ", i, values[i]);
            rows += cell;
        }
        return wStatus;
    }
    CWordArray values(o.wCount);
    wStatus = bHolding ? m.ReadOutputRegisters(o.nDevice, o.wAddress, o.wCount, values)
                       : m.ReadInputRegisters(o.nDevice, o.wAddress, o.wCount, values);
    for (size_t i = 0; i < values.size(); ++i) {
        if (o.strType == "int16") {
            std::snprintf(cell, sizeof cell, "[%zu]=%d ", i, static_cast<short>(values[i]));
        } else if (o.strType == "char") {
            char hi = static_cast<char>(values[i] >> 8), lo = static_cast<char>(values[i]);
            std::snprintf(cell, sizeof cell, "[%zu]=%c%c ", i, hi > 31 ? hi : '.',
                          lo > 31 ? lo : '.');
        } else {
            std::snprintf(cell, sizeof cell, "[%zu]=%u ", i, values[i]);
        }
        rows += cell;
    }
    return wStatus;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        return 2;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    CRemoteModbus m;
    m.m_nTries = o.nTries;
    m.SetHost(o.strHost);
    m.SetPort(o.nPort);
    m.SetTimeout(o.dwTimeout);
    m.SetReconnect(o.bReconnect ? TRUE : FALSE);
    if (!m.Connect(CString(), 0, 0)) {
        std::printf("Connection Error: %s:%u\n", o.strHost.c_str(), o.nPort);
        if (!o.bReconnect) {
            return 1;
        }
    }

    long nReads = 0;
    long nErrors = 0;
    DWORD dwStart = timeGetTime();
    std::string rows;
    while (!g_bStop && (o.nCycles < 0 || nReads < o.nCycles)) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        WORD wStatus = ReadOnce(m, o, rows);
        QueryPerformanceCounter(&t1);
        ++nReads;
        if (wStatus != 0) {
            ++nErrors;
        }
        double dSeconds = (timeGetTime() - dwStart) / 1000.0;
        std::printf("%s\n%s (%.1f ms)\n%ld Errors=%ld  %4.2f(Up./s) \n", rows.c_str(),
                    m.GetErrorText(wStatus).c_str(), (t1.QuadPart - t0.QuadPart) / 1e6, nReads,
                    nErrors, dSeconds > 0 ? nReads / dSeconds : 0.0);
        std::fflush(stdout);
        for (DWORD waited = 0; waited < o.dwInterval && !g_bStop; waited += 50) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::min<DWORD>(50, o.dwInterval - waited)));
        }
    }
    return nErrors == 0 ? 0 : 1;
}
