// Exchanges per second of our serial path (CAutoModbus, local activation,
// modbus-serial-server in its own process, a pty) against a libmodbus RTU
// master on a pty, each reading the same 10 holding registers from its own
// regprobe-sim: same program, same data, same settings. The same server is
// also reached as a remote client does, over TCP and TLS on loopback. Every
// process runs on one CPU so that each contender pays for all the work it
// causes. Every answer is checked. The verdict rests on the idle line: back
// to back, the hop hides inside the inter-frame silence. Each round also
// measures how long this machine takes to wake a blocked thread or process,
// which a hop between processes cannot be faster than.
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "WakeUpProbe.h"
#include "platform/com/ComApi.h"
#include "platform/com/rpc/RpcSettings.h"
#include "transport/AutoModbus.h"
#include "wire/SerialSettings.h"

namespace {
using Clock = std::chrono::steady_clock;

constexpr int kCount = kBenchCount;
constexpr LONG kBaudRate = 115200;
constexpr int kStartMillis = 5000;
constexpr double kLocalGoalMicros = 60;
constexpr double kRemoteGoalMicros = 100;
// Round trips per round with each wake-up partner and pace.
constexpr int kWakeUps = 200;

// What both contenders run: 8N1 at 115200 bit/s, RTU, no flow control, and
// the shortest silent interval the server allows.
CSerialSettings LineSettings() {
    CSerialSettings s;
    s.m_nBaudRate = kBaudRate;
    s.m_nParity = CSerialSettings::PARITY_NONE;
    s.m_nByteSize = 8;
    s.m_nStopBits = CSerialSettings::STOP_ONE;
    s.m_nFlowControl = 0;
    s.m_nMode = CSerialSettings::MODE_RTU;
    s.m_nSilentInterval = 0;
    s.m_nTimeout = 1000;
    return s;
}

struct Options {
    int nRounds = 7;
    int nExchanges = 1000;
    int nCpu = 0;
};

const char kUsage[] =
    "usage: %s [--rounds N>=5] [--exchanges N] [--cpu N|-1]\n"
    "  --rounds     rounds; each runs every contender once per mode (7)\n"
    "  --exchanges  exchanges per contender, mode and round (1000)\n"
    "  --cpu        CPU that the bench, the server and the simulators run on (0);\n"
    "               -1 leaves the scheduler free\n";

// -1 to go on, otherwise the exit status. A median needs several rounds to
// mean anything.
int StartWith(int argc, char** argv, Options& opt) {
    return StartBench(argc, argv,
                      {{"--rounds", &opt.nRounds, 5},
                       {"--exchanges", &opt.nExchanges, 1},
                       {"--cpu", &opt.nCpu, -1, 1023}},
                      kUsage, opt.nCpu);
}

// A regprobe-sim on a pty of its own; GetPath() is the end a master opens.
class CSimulator {
public:
    bool Start() {
        const std::string strHolding = BenchValuesArgument();
        std::string strLine;
        if (!m_child.Start({REGPROBE_SIM_PROGRAM, "--pty", "--mode", "rtu", "--baud",
                            std::to_string(kBaudRate), "--format", "8N1", "--holding", strHolding},
                           {}) ||
            !m_child.ReadLine(strLine, kStartMillis) || strLine.rfind("pty /dev/", 0) != 0) {
            return false;
        }
        m_strPath = strLine.substr(4);
        // Held to read back the line settings the master leaves on the pty.
        m_hWatch = ::open(m_strPath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        return m_hWatch >= 0;
    }
    ~CSimulator() {
        if (m_hWatch >= 0) {
            ::close(m_hWatch);
        }
    }
    const std::string& GetPath() const { return m_strPath; }
    bool GetLineSettings(termios& tio) const { return ::tcgetattr(m_hWatch, &tio) == 0; }
    void Stop() { m_child.Stop(); }

private:
    CChild m_child;
    std::string m_strPath;
    int m_hWatch = -1;
};

// The pty settings that decide how bytes cross it.
std::string DescribeLine(const termios& tio) {
    static const std::pair<speed_t, const char*> kSpeeds[] = {
        {B9600, "9600"},     {B19200, "19200"},   {B38400, "38400"},   {B57600, "57600"},
        {B115200, "115200"}, {B230400, "230400"}, {B460800, "460800"}, {B921600, "921600"}};
    std::string s = "speed ?";
    for (const auto& [speed, pszName] : kSpeeds) {
        if (::cfgetospeed(&tio) == speed && ::cfgetispeed(&tio) == speed) {
            s = std::string(pszName) + " bit/s";
        }
    }
    s += (tio.c_cflag & CSIZE) == CS8 ? " 8" : " 7";
    s += !(tio.c_cflag & PARENB) ? "N" : (tio.c_cflag & PARODD) ? "O" : "E";
    s += (tio.c_cflag & CSTOPB) ? "2" : "1";
    const bool bRts = (tio.c_cflag & CRTSCTS) != 0;
    const bool bXon = (tio.c_iflag & (IXON | IXOFF)) != 0;
    s += !bRts && !bXon ? ", no flow control" : bRts ? ", RTS/CTS" : ", XON/XOFF";
    const bool bRaw = !(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | INPCK)) &&
                      !(tio.c_oflag & OPOST) && !(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    s += bRaw ? ", raw" : ", NOT raw";
    s += ", VMIN " + std::to_string(tio.c_cc[VMIN]) + " VTIME " + std::to_string(tio.c_cc[VTIME]);
    return s;
}

// Our whole path: every exchange is a call into modbus-serial-server.
class COurs : public COurMaster<CAutoModbus> {
public:
    COurs(const CSerialSettings& s, const std::string& strServer) {
        HRESULT hr = m_master.Create(strServer, "com1");
        if (hr != S_OK) {
            char szText[80];
            std::snprintf(szText, sizeof szText, "activation of modbus-serial-server: 0x%08X",
                          static_cast<unsigned>(hr));
            throw std::runtime_error(szText);
        }
        m_master.SetMode(static_cast<SHORT>(s.m_nMode));
        m_master.SetBaudRate(s.m_nBaudRate);
        m_master.SetParity(static_cast<BYTE>(s.m_nParity));
        m_master.SetByteSize(static_cast<SHORT>(s.m_nByteSize));
        m_master.SetStopBits(static_cast<BYTE>(s.m_nStopBits));
        m_master.SetFlowControl(static_cast<BYTE>(s.m_nFlowControl));
        m_master.SetSilentInterval(s.m_nSilentInterval);
        m_master.SetTimeout(s.m_nTimeout);
        // The server must run exactly what the comparison assumes.
        if (m_master.GetMode() != s.m_nMode || m_master.GetBaudRate() != s.m_nBaudRate ||
            m_master.GetParity() != s.m_nParity || m_master.GetByteSize() != s.m_nByteSize ||
            m_master.GetStopBits() != s.m_nStopBits || m_master.GetFlowControl() != 0 ||
            m_master.GetSilentInterval() != s.m_nSilentInterval) {
            throw std::runtime_error("modbus-serial-server did not take the line settings");
        }
        if (!m_master.Connect()) {
            throw std::runtime_error("modbus-serial-server cannot open COM1");
        }
    }
};

// libmodbus's RTU master on its pty. It sends as soon as asked; keeping the
// inter-frame silence is ours to do, timed as the server times it: from the
// moment the previous answer was complete.
class CLibmodbusLine {
public:
    CLibmodbusLine(const std::string& strPath, const CSerialSettings& s) : m_gap(s.GapMicros()) {
        m_pCtx = modbus_new_rtu(strPath.c_str(), int(s.m_nBaudRate), 'N', 8, 1);
        if (m_pCtx == nullptr) {
            throw std::runtime_error("libmodbus context");
        }
        modbus_set_slave(m_pCtx, 1);
        modbus_set_response_timeout(m_pCtx, uint32_t(s.m_nTimeout / 1000),
                                    uint32_t(s.m_nTimeout % 1000 * 1000));
        if (modbus_connect(m_pCtx) != 0) {
            modbus_free(m_pCtx);
            throw std::runtime_error("libmodbus cannot open " + strPath);
        }
        m_last = Clock::now();
    }
    ~CLibmodbusLine() {
        modbus_close(m_pCtx);
        modbus_free(m_pCtx);
    }
    bool Read(bool bKeepSilence) {
        if (bKeepSilence) {
            std::this_thread::sleep_until(m_last + m_gap);
        }
        int n = modbus_read_registers(m_pCtx, 0, kCount, m_values);
        m_last = Clock::now();
        return AreBenchValues(m_values, n);
    }

private:
    modbus_t* m_pCtx;
    std::chrono::microseconds m_gap;
    Clock::time_point m_last;
    uint16_t m_values[kCount];
};

class CLibmodbus : public CContender {
public:
    CLibmodbus(CLibmodbusLine& line, bool bKeepSilence)
        : m_line(line), m_bKeepSilence(bKeepSilence) {}
    bool Exchange() override { return m_line.Read(m_bKeepSilence); }

private:
    CLibmodbusLine& m_line;
    bool m_bKeepSilence;
};

enum EMode { BACK_TO_BACK, IDLE_LINE, MODE_COUNT };
// The first three run in both modes, the last back to back only.
enum EContender { OURS, LIBMODBUS, OURS_REMOTE, LIBMODBUS_NO_SILENCE, CONTENDER_COUNT };

// One contender's round: exchanges per second (0 after a wrong answer) and
// the median time of one exchange, which a few long stalls cannot move.
struct CRound {
    double dRate = 0;
    double dMedianMicros = 0;
};

// On an idle line each exchange follows an untimed pause of the inter-frame
// silence, so that no one waits for the silence inside the exchange.
CRound Measure(CContender& c, int n, EMode mode, std::chrono::microseconds gap) {
    std::vector<double> micros;
    micros.reserve(size_t(n));
    Clock::duration busy{};
    const auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
        const auto start = Clock::now();
        if (!c.Exchange()) {
            return {};
        }
        const Clock::duration dt = Clock::now() - start;
        micros.push_back(std::chrono::duration<double, std::micro>(dt).count());
        if (mode == IDLE_LINE) {
            busy += dt;
            std::this_thread::sleep_for(gap);
        }
    }
    if (mode == BACK_TO_BACK) {
        busy = Clock::now() - t0;
    }
    return {n / std::chrono::duration<double>(busy).count(), Median(std::move(micros))};
}

// Starts modbus-serial-server on COM1 = the pty, also for remote clients
// with the key file on loopback, and waits until it listens on both; the
// TCP port goes to *pnPort.
bool StartServer(CChild& server, const std::string& strDir, const std::string& strPty,
                 const std::string& strKeyFile, int* pnPort) {
    if (!server.Start({REGPROBE_SERVER_PROGRAM, "--foreground", "--port", "COM1=" + strPty,
                       "--listen", "127.0.0.1:0", "--key-file", strKeyFile},
                      {std::string(RPC_RUNTIME_DIR_VARIABLE) + "=" + strDir})) {
        return false;
    }
    std::string strLine;
    const std::string strPrefix = "listening on 127.0.0.1:0 port ";
    if (!server.ReadLine(strLine, kStartMillis) || strLine.rfind(strPrefix, 0) != 0) {
        return false;
    }
    *pnPort = std::atoi(strLine.c_str() + strPrefix.size());
    const std::string strSocket = strDir + "/" + RpcGuidToName(CLSID_ModbusSerialServer) + ".sock";
    const auto deadline = Clock::now() + std::chrono::milliseconds(kStartMillis);
    struct stat st {};
    while (::stat(strSocket.c_str(), &st) != 0) {
        if (Clock::now() > deadline || !server.IsRunning()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void RemoveRuntimeDirectory(const std::string& strDir) {
    const std::string strBase = strDir + "/" + RpcGuidToName(CLSID_ModbusSerialServer);
    ::unlink((strBase + ".sock").c_str());
    ::unlink((strBase + ".lock").c_str());
    ::unlink((strDir + "/access.key").c_str());
    ::rmdir(strDir.c_str());
}

// A throwaway key for this run, owner-only.
bool WriteThrowawayKey(const std::string& strKeyFile) {
    unsigned char key[32] = {};
    std::FILE* pRandom = std::fopen("/dev/urandom", "rb");
    const bool bKey = pRandom != nullptr && std::fread(key, 1, sizeof key, pRandom) == sizeof key;
    if (pRandom != nullptr) {
        std::fclose(pRandom);
    }
    std::FILE* pFile = bKey ? std::fopen(strKeyFile.c_str(), "w") : nullptr;
    if (pFile == nullptr) {
        return false;
    }
    ::fchmod(::fileno(pFile), 0600);
    for (unsigned char b : key) {
        std::fprintf(pFile, "%02x", b);
    }
    return std::fclose(pFile) == 0;
}

const char* const kNames[] = {"regprobe", "libmodbus", "regprobe remote (TLS)",
                              "libmodbus, no silence"};
const char* const kModes[] = {"back-to-back", "idle line"};

struct CResults {
    // rounds[mode][contender][round]; the last contender runs back to back only.
    std::vector<CRound> rounds[MODE_COUNT][CONTENDER_COUNT];
    // Per round, ours (local, remote) minus libmodbus: mean and median time
    // of an exchange.
    std::vector<double> meanDiffs[MODE_COUNT][2];
    std::vector<double> medianDiffs[MODE_COUNT][2];
    CWakeUpProbe wakeUps;
    std::string strLine;  // the line settings both ptys were left with
    std::string strPath[2];
    pid_t serverPid = -1;
};

// Both masters have set up their line now: it must be the same.
void CheckSameLine(const CSimulator (&sims)[2], CResults& results) {
    std::string strLine[2];
    for (int i = 0; i < 2; ++i) {
        termios tio;
        if (!sims[i].GetLineSettings(tio)) {
            throw std::runtime_error("cannot read the settings of " + results.strPath[i]);
        }
        strLine[i] = DescribeLine(tio);
    }
    if (strLine[0] != strLine[1]) {
        throw std::runtime_error("the lines differ: " + results.strPath[0] + " " + strLine[0] +
                                 "; " + results.strPath[1] + " " + strLine[1]);
    }
    results.strLine = strLine[0];
}

// One unrecorded round warms caches, allocators and the processes.
int MeasureRounds(const Options& opt, CContender* const (&contenders)[CONTENDER_COUNT],
                  std::chrono::microseconds gap, CResults& results) {
    for (int round = kWarmUpRound; round < opt.nRounds; ++round) {
        for (int m = 0; m < MODE_COUNT; ++m) {
            const int nContenders = m == BACK_TO_BACK ? CONTENDER_COUNT : 3;
            CRound got[CONTENDER_COUNT];
            for (int k = 0; k < nContenders; ++k) {
                const int c = ContenderAt(round, k, nContenders);
                got[c] = Measure(*contenders[c], ExchangesIn(round, opt.nExchanges), EMode(m), gap);
                if (got[c].dRate == 0) {
                    std::fprintf(stderr, "%s, %s: wrong or no answer\n", kNames[c], kModes[m]);
                    return 1;
                }
            }
            if (round == kWarmUpRound) {
                continue;
            }
            if (m == IDLE_LINE && !results.wakeUps.Measure(kWakeUps, gap)) {
                std::fprintf(stderr, "a wake-up partner stopped answering\n");
                return 1;
            }
            for (int c = 0; c < nContenders; ++c) {
                results.rounds[m][c].push_back(got[c]);
            }
            for (int k = 0; k < 2; ++k) {
                const CRound& o = got[k == 0 ? OURS : OURS_REMOTE];
                results.meanDiffs[m][k].push_back(1e6 / o.dRate - 1e6 / got[LIBMODBUS].dRate);
                results.medianDiffs[m][k].push_back(o.dMedianMicros - got[LIBMODBUS].dMedianMicros);
            }
        }
    }
    return 0;
}

// Starts the simulators and the server in strDir, then measures.
int Run(const Options& opt, const std::string& strDir, const CSerialSettings& settings,
        CResults& results) {
    // Forked first, so that the partner process holds none of the others'
    // descriptors.
    if (!results.wakeUps.Start()) {
        std::fprintf(stderr, "cannot start the wake-up partners\n");
        return 1;
    }
    CSimulator sims[2];
    CChild server;
    if (!sims[0].Start() || !sims[1].Start()) {
        std::fprintf(stderr, "cannot start %s\n", REGPROBE_SIM_PROGRAM);
        return 1;
    }
    results.strPath[0] = sims[0].GetPath();
    results.strPath[1] = sims[1].GetPath();
    const std::string strKeyFile = strDir + "/access.key";
    int nRemotePort = 0;
    if (!WriteThrowawayKey(strKeyFile) ||
        !StartServer(server, strDir, results.strPath[0], strKeyFile, &nRemotePort)) {
        std::fprintf(stderr, "cannot start %s\n", REGPROBE_SERVER_PROGRAM);
        return 1;
    }
    results.serverPid = server.GetPid();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoSetRuntimeDirectory(strDir.c_str());
    // Never anything but the server started above.
    CoRegisterLocalServer(CLSID_ModbusSerialServer, REGPROBE_SERVER_PROGRAM);
    CoSetAccessKeyFile(strKeyFile.c_str());
    int rc = 0;
    try {
        COurs ours(settings, "");
        COurs oursRemote(settings, "127.0.0.1:" + std::to_string(nRemotePort));
        CLibmodbusLine line(results.strPath[1], settings);
        CLibmodbus libmodbus(line, true);
        CLibmodbus libmodbusNoSilence(line, false);
        CContender* const contenders[CONTENDER_COUNT] = {&ours, &libmodbus, &oursRemote,
                                                         &libmodbusNoSilence};
        CheckSameLine(sims, results);
        rc = MeasureRounds(opt, contenders, std::chrono::microseconds(settings.GapMicros()),
                           results);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        rc = 1;
    }
    CoUninitialize();
    server.Stop();
    sims[0].Stop();
    sims[1].Stop();
    return rc;
}

void PrintSetup(const Options& opt, const CSerialSettings& settings, const CResults& results) {
    std::printf(
        "Modbus RTU on pseudo-terminals: read 10 holding registers (function 3, "
        "8-byte request, 25-byte answer)\n");
    std::printf(
        "device:    %s --pty --mode rtu --baud %ld --format 8N1, one per contender, "
        "same registers\n",
        REGPROBE_SIM_PROGRAM, long(kBaudRate));
    std::printf(
        "regprobe:  CAutoModbus -> local activation -> modbus-serial-server --port COM1=%s "
        "(pid %d)\n",
        results.strPath[0].c_str(), int(results.serverPid));
    std::printf(
        "remote:    CAutoModbus -> TCP and TLS 1.3 on 127.0.0.1 -> the same server and "
        "port\n");
    std::printf("libmodbus: %s modbus_new_rtu(\"%s\", %ld, 'N', 8, 1)\n", LIBMODBUS_VERSION_STRING,
                results.strPath[1].c_str(), long(kBaudRate));
    std::printf("line, read back from both ptys: %s (a pty has no wire time)\n",
                results.strLine.c_str());
    std::printf(
        "RTU inter-frame silence: %lld us on every side (silent interval %ld ms, "
        "3.5 characters = %lld us, floor 1750 us)\n",
        static_cast<long long>(settings.GapMicros()), long(settings.m_nSilentInterval),
        static_cast<long long>((settings.TransmitMicros(7) + 1) / 2));
    std::printf(
        "  modbus-serial-server waits it after each answer before the next request;\n"
        "  the libmodbus contender waits it the same way (libmodbus itself does not);\n"
        "  requests and answers of function 3 end by their length, never by a "
        "silence\n");
    std::printf(
        "back-to-back: each master reads as fast as it may; the hop's way back and the "
        "next call overlap the silence\n");
    std::printf(
        "idle line:    the silence has passed before each request (untimed pause); "
        "only the exchange is timed\n");
    if (opt.nCpu >= 0) {
        std::printf("bench, server and simulators all pinned to CPU %d\n", opt.nCpu);
    } else {
        std::printf("processes not pinned\n");
    }
    std::printf("%d rounds of %d exchanges per contender and mode\n\n", opt.nRounds,
                opt.nExchanges);
}

void PrintResults(const CResults& results) {
    std::printf("%-13s %-22s %9s %9s %9s %12s\n", "mode", "contender", "median/s", "min/s", "max/s",
                "median us");
    for (int m = 0; m < MODE_COUNT; ++m) {
        for (int c = 0; c < CONTENDER_COUNT; ++c) {
            if (results.rounds[m][c].empty()) {
                continue;
            }
            std::vector<double> rates;
            std::vector<double> medians;
            for (const CRound& r : results.rounds[m][c]) {
                rates.push_back(r.dRate);
                medians.push_back(r.dMedianMicros);
            }
            const CSpread spread = Spread(rates);
            std::printf("%-13s %-22s %9.0f %9.0f %9.0f %12.1f%s\n", kModes[m], kNames[c],
                        spread.dMedian, spread.dMin, spread.dMax, Median(medians),
                        c == LIBMODBUS_NO_SILENCE ? "  (reference, not compared)" : "");
        }
    }
    std::printf(
        "\n(median us: the median exchange of a round, median over rounds; it leaves "
        "out stalls)\n");
    std::printf(
        "\nwhat the server hop adds: ours - libmodbus, us per exchange; median of the "
        "per-round\ndifferences, [min, max] over the rounds\n");
    std::printf("%-13s %-8s %24s %24s\n", "mode", "path", "from rates", "from medians");
    static const char* const kPaths[] = {"local", "remote"};
    for (int m = 0; m < MODE_COUNT; ++m) {
        for (int k = 0; k < 2; ++k) {
            const CSpread rates = Spread(results.meanDiffs[m][k]);
            const CSpread medians = Spread(results.medianDiffs[m][k]);
            std::printf("%-13s %-8s %8.1f [%6.1f, %6.1f] %8.1f [%6.1f, %6.1f]\n", kModes[m],
                        kPaths[k], rates.dMedian, rates.dMin, rates.dMax, medians.dMedian,
                        medians.dMin, medians.dMax);
        }
    }
}

// Back to back, the hop's way back and the next call overlap the silence,
// which hides what the server adds: only the idle line decides.
void PrintVerdict(const CResults& results) {
    const double dLocal = Spread(results.meanDiffs[IDLE_LINE][0]).dMedian;
    const double dRemote = Spread(results.meanDiffs[IDLE_LINE][1]).dMedian;
    std::printf(
        "\nserver hop on an idle line, from rates: local %.1f us (goal < %.0f: %s), "
        "remote %.1f us (goal < %.0f: %s)\n",
        dLocal, kLocalGoalMicros, dLocal < kLocalGoalMicros ? "met" : "NOT met", dRemote,
        kRemoteGoalMicros, dRemote < kRemoteGoalMicros ? "met" : "NOT met");
}

// What a hand-over costs on this machine, beside which the hop is read.
void PrintWakeUps(const Options& opt, const CSerialSettings& settings, const CResults& results) {
    std::printf(
        "\nthis machine's wake-up of a blocked partner, one way (write, poll, read), us:\n"
        "median [10th, 90th percentile] of %d per round and kind, %s\n",
        kWakeUps,
        opt.nCpu >= 0 ? ("both on CPU " + std::to_string(opt.nCpu)).c_str() : "not pinned");
    std::printf("%-20s %26s %26s\n", "partner", "back to back",
                ("after " + std::to_string(settings.GapMicros()) + " us idle").c_str());
    static const char* const kPartners[] = {"thread (eventfd)", "process (socketpair)"};
    double dProcessAfterPause = 0;
    for (int p = 0; p < CWakeUpProbe::PARTNER_COUNT; ++p) {
        std::printf("%-20s", kPartners[p]);
        for (int pace = 0; pace < CWakeUpProbe::PACE_COUNT; ++pace) {
            const std::vector<double>& v =
                results.wakeUps.Samples(CWakeUpProbe::EPartner(p), CWakeUpProbe::EPace(pace));
            const double dMedian = Median(v);
            std::printf("  %8.1f [%6.1f, %6.1f]", dMedian, Percentile(v, 0.1), Percentile(v, 0.9));
            if (p == CWakeUpProbe::PROCESS && pace == CWakeUpProbe::AFTER_PAUSE) {
                dProcessAfterPause = dMedian;
            }
        }
        std::printf("\n");
    }
    // Client to server and back: the least any hop between processes adds.
    std::printf(
        "the hop wakes the server, then the client: two process wake-ups after a pause,\n"
        "%.1f us here, are the least it can add\n",
        2 * dProcessAfterPause);
}
}  // namespace

int main(int argc, char** argv) {
    Options opt;
    // Pinned before any child starts: they all inherit it.
    if (const int rc = StartWith(argc, argv, opt); rc >= 0) {
        return rc;
    }
    char szDir[] = "/tmp/regprobe-bench-serial-XXXXXX";
    if (::mkdtemp(szDir) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const CSerialSettings settings = LineSettings();
    CResults results;
    const int rc = Run(opt, szDir, settings, results);
    RemoveRuntimeDirectory(szDir);
    if (rc != 0) {
        return rc;
    }
    PrintSetup(opt, settings, results);
    PrintResults(results);
    PrintWakeUps(opt, settings, results);
    PrintVerdict(results);
    return 0;
}
