// Exchanges per second of our Modbus/TCP master against libmodbus's master and
// a bare socket ping-pong, all reading the same 10 holding registers from one
// libmodbus slave in a child process. Client and server share one CPU so that
// every contender pays for the server's work alike. Every answer is checked.
// Then the other framings on host and port, each against its own floor
// (FramedBench.h).
#include <arpa/inet.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "BenchSupport.h"
#include "FramedBench.h"
#include "TlsBench.h"
#include "transport/RemoteModbus.h"

namespace {
constexpr int kCount = kBenchCount;
constexpr std::array<BYTE, 12> kRequest = {0, 0, 0, 0, 0, 6, 1, 3, 0, 0, 0, kCount};
constexpr size_t kAnswerSize = 9 + 2 * kCount;

struct Options {
    int nRounds = 7;
    int nPersistent = 20000;
    int nReconnect = 2000;
    int nCpu = 0;
};

const char kUsage[] =
    "usage: %s [--rounds N>=5] [--persistent N] [--reconnect N] [--cpu N|-1]\n"
    "  --rounds      rounds; each runs every contender once per mode (7)\n"
    "  --persistent  exchanges per contender and round on one connection (20000)\n"
    "  --reconnect   exchanges per contender and round, one connection each (2000)\n"
    "  --cpu         CPU that both the client and the server process run on (0);\n"
    "                -1 leaves the scheduler free\n";

// -1 to go on, otherwise the exit status. A median needs several rounds to
// mean anything.
int StartWith(int argc, char** argv, Options& opt) {
    return StartBench(argc, argv,
                      {{"--rounds", &opt.nRounds, 5},
                       {"--persistent", &opt.nPersistent, 1},
                       {"--reconnect", &opt.nReconnect, 1},
                       {"--cpu", &opt.nCpu, -1, 1023}},
                      kUsage, opt.nCpu);
}

sockaddr_in Loopback(int nPort) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    return sa;
}

// The child: a libmodbus slave serving every connection until it is killed.
[[noreturn]] void Serve(int hListen, int nPort) {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", nPort);
    modbus_mapping_t* map = modbus_mapping_new(0, 0, kCount, 0);
    if (ctx == nullptr || map == nullptr) {
        _exit(2);
    }
    for (int i = 0; i < kCount; ++i) {
        map->tab_registers[i] = BenchValue(i);
    }
    std::vector<pollfd> fds{{hListen, POLLIN, 0}};
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) <= 0) {
            continue;
        }
        for (size_t i = fds.size(); i-- > 1;) {
            if (fds[i].revents == 0) {
                continue;
            }
            modbus_set_socket(ctx, fds[i].fd);
            int rc = modbus_receive(ctx, query);
            if (rc > 0) {
                modbus_reply(ctx, query, rc, map);
            } else if (rc < 0) {
                ::close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (fds[0].revents & POLLIN) {
            int h = ::accept4(hListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (h >= 0) {
                fds.push_back({h, POLLIN, 0});
            }
        }
    }
}

class COurs : public COurMaster<CRemoteModbus> {
public:
    COurs(int nPort, bool bReconnect) {
        if (!m_master.Connect("127.0.0.1", static_cast<WORD>(nPort), 2000)) {
            throw std::runtime_error("regprobe master cannot connect");
        }
        m_master.SetReconnect(bReconnect ? TRUE : FALSE);
    }
};

class CLibmodbus : public CContender {
public:
    CLibmodbus(int nPort, bool bReconnect) : m_bReconnect(bReconnect) {
        m_pCtx = modbus_new_tcp("127.0.0.1", nPort);
        if (m_pCtx == nullptr) {
            throw std::runtime_error("libmodbus context");
        }
        modbus_set_response_timeout(m_pCtx, 2, 0);
        if (!m_bReconnect && modbus_connect(m_pCtx) != 0) {
            throw std::runtime_error("libmodbus master cannot connect");
        }
    }
    ~CLibmodbus() override {
        modbus_close(m_pCtx);
        modbus_free(m_pCtx);
    }
    bool Exchange() override {
        if (m_bReconnect && modbus_connect(m_pCtx) != 0) {
            return false;
        }
        int n = modbus_read_registers(m_pCtx, 0, kCount, m_values);
        if (m_bReconnect) {
            modbus_close(m_pCtx);
        }
        return AreBenchValues(m_values, n);
    }

private:
    modbus_t* m_pCtx;
    bool m_bReconnect;
    uint16_t m_values[kCount];
};

// The floor: nothing but the system calls an exchange cannot do without.
// Bounded, it also gives its sends and receives a kernel time-out, as a
// master that must not wait for ever does: the kernel then arms a timer for
// every wait, which the unbounded floor does not pay for.
class CRawSocket : public CContender {
public:
    CRawSocket(int nPort, bool bReconnect, bool bBounded)
        : m_sa(Loopback(nPort)), m_bReconnect(bReconnect), m_bBounded(bBounded) {
        m_expected = {0, 0, 0, 0, 0, 3 + 2 * kCount, 1, 3, 2 * kCount};
        for (int i = 0; i < kCount; ++i) {
            m_expected.push_back(HIBYTE(BenchValue(i)));
            m_expected.push_back(LOBYTE(BenchValue(i)));
        }
        if (!m_bReconnect && !Open()) {
            throw std::runtime_error("raw socket cannot connect");
        }
    }
    ~CRawSocket() override {
        if (m_h >= 0) {
            ::close(m_h);
        }
    }
    bool Exchange() override {
        if (m_bReconnect && !Open()) {
            return false;
        }
        bool bOk = ::send(m_h, kRequest.data(), kRequest.size(), MSG_NOSIGNAL) ==
                   static_cast<ssize_t>(kRequest.size());
        size_t nGot = 0;
        while (bOk && nGot < kAnswerSize) {
            ssize_t n = ::recv(m_h, m_answer + nGot, sizeof m_answer - nGot, 0);
            bOk = n > 0;
            nGot += bOk ? static_cast<size_t>(n) : 0;
        }
        if (m_bReconnect) {
            ::close(m_h);
            m_h = -1;
        }
        return bOk && nGot == kAnswerSize &&
               std::memcmp(m_answer, m_expected.data(), kAnswerSize) == 0;
    }

private:
    bool Open() {
        m_h = ConnectRawSocket(m_sa, SOCK_STREAM, m_bBounded);
        return m_h >= 0;
    }

    sockaddr_in m_sa;
    bool m_bReconnect;
    bool m_bBounded;
    int m_h = -1;
    std::vector<BYTE> m_expected;
    BYTE m_answer[64];
};

// Exchanges per second over n verified exchanges; 0 after a wrong answer.
double Measure(CContender& c, int n) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
        if (!c.Exchange()) {
            return 0;
        }
    }
    std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
    return n / dt.count();
}

const char* const kNames[] = {"regprobe", "libmodbus", "raw socket", "raw bounded"};
constexpr int kContenders = 4;
const char* const kModes[] = {"persistent", "reconnect"};
// rates[mode][contender][round]
using CRates = std::vector<double>[2][kContenders];

// The libmodbus slave in a child process that dies with us; its pid, or -1.
pid_t StartServer(int& nPort) {
    int hListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = Loopback(0);
    socklen_t len = sizeof sa;
    if (hListen < 0 || ::bind(hListen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(hListen, 128) != 0 ||
        ::getsockname(hListen, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        std::perror("listen on 127.0.0.1");
        return -1;
    }
    nPort = ntohs(sa.sin_port);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
    } else if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            _exit(1);
        }
        Serve(hListen, nPort);
    }
    ::close(hListen);
    return pid;
}

// One unrecorded round warms caches, allocators and the server.
int MeasureRounds(const Options& opt, int nPort, CRates& rates) {
    const int nPerRound[] = {opt.nPersistent, opt.nReconnect};
    std::unique_ptr<CContender> contenders[2][kContenders];
    for (int m = 0; m < 2; ++m) {
        contenders[m][0] = std::make_unique<COurs>(nPort, m == 1);
        contenders[m][1] = std::make_unique<CLibmodbus>(nPort, m == 1);
        contenders[m][2] = std::make_unique<CRawSocket>(nPort, m == 1, false);
        contenders[m][3] = std::make_unique<CRawSocket>(nPort, m == 1, true);
    }
    for (int round = kWarmUpRound; round < opt.nRounds; ++round) {
        for (int m = 0; m < 2; ++m) {
            for (int k = 0; k < kContenders; ++k) {
                const int c = ContenderAt(round, k, kContenders);
                double rate = Measure(*contenders[m][c], ExchangesIn(round, nPerRound[m]));
                if (rate == 0) {
                    std::fprintf(stderr, "%s, %s: wrong or no answer\n", kNames[c], kModes[m]);
                    return 1;
                }
                if (round != kWarmUpRound) {
                    rates[m][c].push_back(rate);
                }
            }
        }
    }
    return 0;
}

void PrintResults(const Options& opt, int nPort, const CRates& rates) {
    std::printf("Modbus/TCP: read 10 holding registers (12-byte request, 29-byte answer)\n");
    std::printf("server: libmodbus %s slave in a child process on 127.0.0.1:%d\n",
                LIBMODBUS_VERSION_STRING, nPort);
    if (opt.nCpu >= 0) {
        std::printf("client and server both pinned to CPU %d\n", opt.nCpu);
    } else {
        std::printf("client and server not pinned\n");
    }
    std::printf("%d rounds of %d persistent and %d reconnecting exchanges per contender\n\n",
                opt.nRounds, opt.nPersistent, opt.nReconnect);
    std::printf("%-11s %-11s %14s %12s %12s\n", "mode", "contender", "median/s", "min/s", "max/s");
    double medians[2][kContenders];
    for (int m = 0; m < 2; ++m) {
        for (int c = 0; c < kContenders; ++c) {
            const CSpread spread = Spread(rates[m][c]);
            medians[m][c] = spread.dMedian;
            std::printf("%-11s %-11s %14.0f %12.0f %12.0f\n", kModes[m], kNames[c], spread.dMedian,
                        spread.dMin, spread.dMax);
        }
    }
    std::printf("\n%-11s %16s %12s %20s %8s\n", "mode", "ours/libmodbus", "ours/raw",
                "ours/raw bounded", "goal");
    const double goals[] = {1.1, 1.0};
    for (int m = 0; m < 2; ++m) {
        double vsLib = medians[m][0] / medians[m][1];
        std::printf("%-11s %16.3f %12.3f %20.3f %5s%.2f %s\n", kModes[m], vsLib,
                    medians[m][0] / medians[m][2], medians[m][0] / medians[m][3], ">=", goals[m],
                    vsLib >= goals[m] ? "met" : "NOT met");
    }
}
}  // namespace

int main(int argc, char** argv) {
    Options opt;
    // Pinned before any child starts: they all inherit it.
    if (const int rc = StartWith(argc, argv, opt); rc >= 0) {
        return rc;
    }
    int nPort = 0;
    const pid_t pid = StartServer(nPort);
    if (pid < 0) {
        return 1;
    }
    CRates rates;
    int rc = 0;
    try {
        rc = MeasureRounds(opt, nPort, rates);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        rc = 1;
    }
    StopProcess(pid);
    if (rc == 0) {
        PrintResults(opt, nPort, rates);
        rc = RunFramedBenches({opt.nRounds, opt.nPersistent, opt.nReconnect, opt.nCpu});
        if (rc == 0) {
            rc = RunTlsBench(opt.nRounds, opt.nPersistent / 2);
        }
    }
    return rc;
}
