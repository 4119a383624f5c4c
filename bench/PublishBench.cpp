// regprobe-poll reading 125 holding registers at interval 0 from the
// simulator, printing them, against the same reads published to a local
// Mosquitto broker at QoS 1 (125 messages a read); each run's time covers
// every message acknowledged, so the rate is what the broker takes in, not
// what the poller reads and drops. The broker's own count of messages
// received ($SYS) is read after each publishing run.
// Poller, broker and simulator share one CPU unless --cpu -1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"

namespace {
using Clock = std::chrono::steady_clock;

struct Options {
    int nRounds = 3;
    int nReads = 2000;
    int nCpu = 0;
};

const char kUsage[] =
    "usage: %s [--rounds N>=3] [--reads N] [--cpu N|-1]\n"
    "  --rounds  runs of each contender (3)\n"
    "  --reads   reads of 125 registers in each run (2000)\n"
    "  --cpu     CPU that the poller, the broker and the simulator run on (0);\n"
    "            -1 leaves them unpinned\n";

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    int nPort = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
        nPort = ntohs(sa.sin_port);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return nPort;
}

// A shell line run to its end; its first line of output (standard error
// too), and the seconds it took.
double Run(const std::string& strCommand, std::string* pstrLine = nullptr) {
    CChild child;
    const auto t0 = Clock::now();
    if (!child.Start({"/bin/sh", "-c", strCommand + " 2>&1"})) {
        return -1;
    }
    std::string strLine;
    std::string strFirst;
    while (child.ReadLine(strLine, 600000)) {
        if (strFirst.empty()) {
            strFirst = strLine;
        }
    }
    child.Stop();
    if (pstrLine != nullptr) {
        *pstrLine = strFirst;
    }
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The broker's count of messages received so far ($SYS is published each
// second).
long long BrokerReceived(int nPort) {
    std::string strLine;
    Run("mosquitto_sub -h 127.0.0.1 -p " + std::to_string(nPort) +
            " -C 1 -W 5 -t '$SYS/broker/messages/received'",
        &strLine);
    return std::atoll(strLine.c_str());
}

// Each round's rates, the warm-up left out.
struct CRates {
    std::vector<double> printing;
    std::vector<double> publishing;
    std::vector<double> ratios;
    std::vector<double> brokerRates;
};

// Every round: printing, then publishing with the broker's count around it.
bool RunRounds(const Options& opt, const std::string& strPoll, const std::string& strPublish,
               int nBroker, CRates& rates) {
    for (int round = kWarmUpRound; round < opt.nRounds; ++round) {
        const double dPrint = Run(strPoll + " >/dev/null");
        const long long nBefore = BrokerReceived(nBroker);
        std::string strSummary;
        const double dPublish = Run(strPoll + strPublish, &strSummary);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // $SYS catches up
        const long long nAfter = BrokerReceived(nBroker);
        if (dPrint <= 0 || dPublish <= 0 ||
            strSummary.find(" 0 dropped, 0 left") == std::string::npos) {
            std::fprintf(stderr, "a run failed: %s\n", strSummary.c_str());
            return false;
        }
        if (round == kWarmUpRound) {
            continue;
        }
        rates.printing.push_back(opt.nReads / dPrint);
        rates.publishing.push_back(opt.nReads / dPublish);
        rates.ratios.push_back(dPrint / dPublish);
        rates.brokerRates.push_back(double(nAfter - nBefore) / dPublish);
        std::printf(
            "round %d: %.0f reads/s printed, %.0f reads/s published (%.0f messages/s), "
            "broker counted %lld messages\n",
            round + 1, rates.printing.back(), rates.publishing.back(),
            rates.publishing.back() * 125, nAfter - nBefore);
    }
    return true;
}

void PrintRates(const Options& opt, const CRates& rates) {
    const CSpread print = Spread(rates.printing);
    const CSpread publish = Spread(rates.publishing);
    const CSpread ratio = Spread(rates.ratios);
    const CSpread brokerRate = Spread(rates.brokerRates);
    std::printf(
        "\nregprobe-poll, 125 registers at interval 0, %d reads a run, median of %d "
        "(min-max):\n",
        opt.nReads, opt.nRounds);
    std::printf("  printing                 %8.0f reads/s (%.0f-%.0f)\n", print.dMedian, print.dMin,
                print.dMax);
    std::printf("  publishing at QoS 1      %8.0f reads/s (%.0f-%.0f), %.0f messages/s\n",
                publish.dMedian, publish.dMin, publish.dMax, publish.dMedian * 125);
    std::printf("  broker's count ($SYS)    %8.0f messages/s (%.0f-%.0f)\n", brokerRate.dMedian,
                brokerRate.dMin, brokerRate.dMax);
    std::printf("  publishing / printing    %8.2f (%.2f-%.2f); goal >= 0.90: %s\n", ratio.dMedian,
                ratio.dMin, ratio.dMax, ratio.dMedian >= 0.9 ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (const int rc = StartBench(argc, argv,
                                  {{"--rounds", &opt.nRounds, 3},
                                   {"--reads", &opt.nReads, 10},
                                   {"--cpu", &opt.nCpu, -1, 1023}},
                                  kUsage, opt.nCpu);
        rc >= 0) {
        return rc;
    }
    const std::string strDir =
        std::string(REGPROBE_POLL_PROGRAM).substr(0, std::string(REGPROBE_POLL_PROGRAM).rfind('/'));
    char szConfig[] = "/tmp/regprobe-bench-mqtt-XXXXXX";
    const int hConfig = ::mkstemp(szConfig);
    const int nBroker = FreePort();
    const std::string strConfig = "listener " + std::to_string(nBroker) +
                                  " 127.0.0.1\nallow_anonymous true\npersistence false\n"
                                  "sys_interval 1\nlog_type error\nmax_queued_messages 0\n";
    if (hConfig < 0 || ::write(hConfig, strConfig.data(), strConfig.size()) < 0) {
        std::perror("config");
        return 1;
    }
    ::close(hConfig);
    CChild broker;
    CChild sim;
    std::string strLine;
    if (!broker.Start({"/usr/sbin/mosquitto", "-c", szConfig}) ||
        !sim.Start({REGPROBE_SIM_PROGRAM, "--listen", "127.0.0.1:0", "--size", "holding=200"}) ||
        !sim.ReadLine(strLine, 10000) || strLine.find("listening on 127.0.0.1:") != 0) {
        std::fprintf(stderr, "the broker or the simulator did not start\n");
        ::unlink(szConfig);
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string strPoll =
        std::string(REGPROBE_POLL_PROGRAM) + " --port " + strLine.substr(strLine.rfind(':') + 1) +
        " --quantity 125 --interval 0 --count " + std::to_string(opt.nReads);
    const std::string strPublish = " --publish mqtt://127.0.0.1:" + std::to_string(nBroker) +
                                   "/bench --queue 10000000 --flush-timeout 600000";
    CRates rates;
    const bool bRan = RunRounds(opt, strPoll, strPublish, nBroker, rates);
    ::unlink(szConfig);
    if (!bRan) {
        return 1;
    }
    PrintRates(opt, rates);
    return 0;
}
