// What the benches share: their integer options, pinning to one CPU, the
// watchdog, stopping a child process, and the rounds they measure in and the
// medians they report.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

// What the Modbus benches read: kBenchCount holding registers from 0, each
// holding BenchValue(i).
constexpr int kBenchCount = 10;
constexpr unsigned short BenchValue(int i) {
    return static_cast<unsigned short>(0x1357 + 0x0F1E * i);
}
// True when the n registers read are the bench's values.
bool AreBenchValues(const unsigned short* pValues, int n);
// The values as a simulator's "--holding 0=v0,v1,..." argument.
std::string BenchValuesArgument();

// One contender of a Modbus bench.
class CContender {
public:
    virtual ~CContender() = default;
    // One read of the bench's registers; false unless the values are right.
    virtual bool Exchange() = 0;
};

// One of our masters as a contender; the derived class sets it up.
template <class TMaster>
class COurMaster : public CContender {
public:
    bool Exchange() override {
        return m_master.ReadOutputRegisters(1, 0, kBenchCount, m_values) == 0 &&
               AreBenchValues(m_values.data(), int(m_values.size()));
    }

protected:
    TMaster m_master;

private:
    std::vector<WORD> m_values = std::vector<WORD>(kBenchCount);
};

// No run may hang the machine.
constexpr unsigned kWatchdogSeconds = 600;

struct CIntOption {
    const char* pszName;  // e.g. "--rounds"
    int* pValue;
    int nMin;
    int nMax = 100000000;
};

// The usage text; %s stands for the program's name.
using UsageText = const char*;

// Sets the named options from "--name N" or "--name=N", each N within its
// range. Returns -1 to go on; otherwise the exit status, after the usage on
// stdout for --help or one line on stderr for a bad argument.
int ParseIntOptions(int argc, char** argv, std::initializer_list<CIntOption> options,
                    UsageText pszUsage);

// What every bench does first: reads its options (as ParseIntOptions), then
// starts the watchdog and pins itself, and every child it starts, to the CPU
// the options left in nCpu. -1 to go on, otherwise the exit status.
int StartBench(int argc, char** argv, std::initializer_list<CIntOption> options, UsageText pszUsage,
               const int& nCpu);

// Pins this process, and every child it starts from now on, to CPU nCpu;
// true at once for -1. Prints why on failure.
bool PinToCpu(int nCpu);
// A raw contender's socket (SOCK_STREAM or SOCK_DGRAM) connected to sa; with
// bBounded, the kernel's send and receive time-outs set (10 s), as a careful
// plain client would. The descriptor, or -1.
int ConnectRawSocket(const sockaddr_in& sa, int nType, bool bBounded);

// SIGTERM, then SIGKILL after 2 s; reaps the process either way.
void StopProcess(pid_t pid);

// Rounds run from -1, an unrecorded warm-up round doing a tenth of the
// exchanges, to the last recorded one.
constexpr int kWarmUpRound = -1;
inline int ExchangesIn(int round, int n) {
    return round == kWarmUpRound ? std::max(1, n / 10) : n;
}
// The contender that runs k-th of nContenders in a round: each round starts
// with another one, to spread drift.
inline int ContenderAt(int round, int k, int nContenders) {
    return (k + std::max(round, 0)) % nContenders;
}

double Median(std::vector<double> v);
// The value below which the fraction q (0 to 1) of v lies, the nearest rank.
double Percentile(std::vector<double> v, double q);

struct CSpread {
    double dMedian;
    double dMin;
    double dMax;
};
CSpread Spread(const std::vector<double>& v);

// A program run by the bench, its output a pipe to us. It dies with us.
class CChild {
public:
    CChild() = default;
    ~CChild() { Stop(); }
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    // args[0] is the program's path; env holds "NAME=value" additions.
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
    // One line of output without its newline; false at a time-out or end.
    bool ReadLine(std::string& strLine, int nMillis);
    bool IsRunning() const;
    pid_t GetPid() const { return m_pid; }
    void Stop();

private:
    pid_t m_pid = -1;
    int m_hOut = -1;
    std::string m_strPending;
};
