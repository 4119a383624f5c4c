#include "FramedBench.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "transport/RtuOverTcpModbus.h"
#include "transport/UdpModbus.h"
#include "wire/RtuFrame.h"

namespace {
constexpr int kCount = kBenchCount;
constexpr int kStartMillis = 5000;

enum class EFraming { RTU, UDP };
const char* const kTransports[] = {"rtu-over-tcp", "udp"};

CByteArray RtuFrame(const CByteArray& adu) {
    return CRtuFrame::Encode(adu.data(), adu.size());
}

// The request for the bench's registers, and its answer, as the framing
// sends them; a datagram carries transaction id 1.
CByteArray RequestOf(EFraming framing) {
    const CByteArray adu{1, 3, 0, 0, 0, kCount};
    if (framing == EFraming::RTU) {
        return RtuFrame(adu);
    }
    CByteArray frame{0, 1, 0, 0, 0, BYTE(adu.size())};
    frame.insert(frame.end(), adu.begin(), adu.end());
    return frame;
}

CByteArray AnswerOf(EFraming framing) {
    CByteArray adu{1, 3, 2 * kCount};
    for (int i = 0; i < kCount; ++i) {
        adu.push_back(HIBYTE(BenchValue(i)));
        adu.push_back(LOBYTE(BenchValue(i)));
    }
    if (framing == EFraming::RTU) {
        return RtuFrame(adu);
    }
    CByteArray frame{0, 1, 0, 0, 0, BYTE(adu.size())};
    frame.insert(frame.end(), adu.begin(), adu.end());
    return frame;
}

// A regprobe-sim serving the framing on a free port of the loopback address.
int StartSimulator(CChild& sim, EFraming framing) {
    std::string strLine;
    const std::string strPrefix = "listening on 127.0.0.1:";
    if (!sim.Start({REGPROBE_SIM_PROGRAM, "--transport", kTransports[int(framing)], "--listen",
                    "127.0.0.1:0", "--holding", BenchValuesArgument()}) ||
        !sim.ReadLine(strLine, kStartMillis) || strLine.rfind(strPrefix, 0) != 0) {
        throw std::runtime_error(std::string("regprobe-sim --transport ") +
                                 kTransports[int(framing)] + " did not start");
    }
    return std::stoi(strLine.substr(strPrefix.size()));
}

template <class TMaster>
class COurs : public COurMaster<TMaster> {
public:
    COurs(int nPort, bool bReconnect) {
        if (!this->m_master.Connect("127.0.0.1", static_cast<WORD>(nPort), 2000)) {
            throw std::runtime_error("regprobe master cannot connect");
        }
        this->m_master.SetReconnect(bReconnect ? TRUE : FALSE);
    }
};

// The floor: the framed request out, the answer in and compared, nothing
// else. Bounded, its sends and receives carry a kernel time-out, as those of
// a master that must not wait for ever do.
class CRawFramed : public CContender {
public:
    CRawFramed(EFraming framing, int nPort, bool bReconnect, bool bBounded)
        : m_framing(framing),
          m_request(RequestOf(framing)),
          m_expected(AnswerOf(framing)),
          m_bReconnect(bReconnect),
          m_bBounded(bBounded) {
        m_sa.sin_family = AF_INET;
        m_sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_sa.sin_port = htons(static_cast<uint16_t>(nPort));
        if (!m_bReconnect && !Open()) {
            throw std::runtime_error("raw socket cannot connect");
        }
    }
    ~CRawFramed() override {
        if (m_h >= 0) {
            ::close(m_h);
        }
    }
    bool Exchange() override {
        if (m_bReconnect && !Open()) {
            return false;
        }
        bool bOk = ::send(m_h, m_request.data(), m_request.size(), MSG_NOSIGNAL) ==
                   static_cast<ssize_t>(m_request.size());
        size_t nGot = 0;
        while (bOk && nGot < m_expected.size()) {
            const ssize_t n = ::recv(m_h, m_answer + nGot, sizeof m_answer - nGot, 0);
            bOk = n > 0;
            nGot += bOk ? static_cast<size_t>(n) : 0;
        }
        if (m_bReconnect) {
            ::close(m_h);
            m_h = -1;
        }
        return bOk && nGot == m_expected.size() &&
               std::memcmp(m_answer, m_expected.data(), nGot) == 0;
    }

private:
    bool Open() {
        m_h = ConnectRawSocket(m_sa, m_framing == EFraming::UDP ? SOCK_DGRAM : SOCK_STREAM,
                               m_bBounded);
        return m_h >= 0;
    }

    EFraming m_framing;
    CByteArray m_request;
    CByteArray m_expected;
    bool m_bReconnect;
    bool m_bBounded;
    sockaddr_in m_sa{};
    int m_h = -1;
    BYTE m_answer[256];
};

// Seconds for n verified exchanges; a negative value after a wrong answer.
double Seconds(CContender& c, int n) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
        if (!c.Exchange()) {
            return -1;
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Contenders take turns in slices of this many exchanges, so that every one
// of them meets the machine's load of the moment alike.
constexpr int kSlice = 500;

const char* const kNames[] = {"regprobe", "raw socket", "raw bounded"};
constexpr int kContenders = 3;

// One framing in one mode: its contenders and their rates per round.
struct CCase {
    const char* pszName;
    int nPerRound;
    std::unique_ptr<CContender> contenders[kContenders];
    std::vector<double> rates[kContenders];
};

std::unique_ptr<CContender> OursFor(EFraming framing, int nPort, bool bReconnect) {
    if (framing == EFraming::UDP) {
        return std::make_unique<COurs<CUdpModbus>>(nPort, bReconnect);
    }
    return std::make_unique<COurs<CRtuOverTcpModbus>>(nPort, bReconnect);
}

void AddCase(std::vector<CCase>& cases, const char* pszName, EFraming framing, int nPort,
             bool bReconnect, int nPerRound) {
    CCase& c = cases.emplace_back();
    c.pszName = pszName;
    c.nPerRound = nPerRound;
    c.contenders[0] = OursFor(framing, nPort, bReconnect);
    c.contenders[1] = std::make_unique<CRawFramed>(framing, nPort, bReconnect, false);
    c.contenders[2] = std::make_unique<CRawFramed>(framing, nPort, bReconnect, true);
}

// One round of a case: the contenders take turns, a slice each, until each
// has done n exchanges; their rates in rates. False after a wrong answer.
bool MeasureRound(CCase& c, int round, int n, double (&rates)[kContenders]) {
    double seconds[kContenders] = {};
    for (int nDone = 0; nDone < n; nDone += kSlice) {
        const int nSlice = std::min(kSlice, n - nDone);
        for (int k = 0; k < kContenders; ++k) {
            const int i = ContenderAt(round + nDone / kSlice, k, kContenders);
            const double dt = Seconds(*c.contenders[i], nSlice);
            if (dt < 0) {
                std::fprintf(stderr, "%s, %s: wrong or no answer\n", kNames[i], c.pszName);
                return false;
            }
            seconds[i] += dt;
        }
    }
    for (int i = 0; i < kContenders; ++i) {
        rates[i] = n / seconds[i];
    }
    return true;
}

// One unrecorded round warms caches, allocators and the servers.
int MeasureCases(const CFramedBenchOptions& opt, std::vector<CCase>& cases) {
    for (int round = kWarmUpRound; round < opt.nRounds; ++round) {
        for (CCase& c : cases) {
            double rates[kContenders];
            if (!MeasureRound(c, std::max(round, 0), ExchangesIn(round, c.nPerRound), rates)) {
                return 1;
            }
            for (int i = 0; round != kWarmUpRound && i < kContenders; ++i) {
                c.rates[i].push_back(rates[i]);
            }
        }
    }
    return 0;
}

// The median of each round's ratio: the contenders of one round shared its
// load, so a change in the machine's load between rounds cancels out.
double RatioOfRounds(const std::vector<double>& ours, const std::vector<double>& other) {
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size() && i < other.size(); ++i) {
        ratios.push_back(ours[i] / other[i]);
    }
    return Median(ratios);
}

void PrintCases(const CFramedBenchOptions& opt, const std::vector<CCase>& cases) {
    std::printf("\nRTU over TCP (8-byte request, 25-byte answer) and Modbus/UDP (12 and 29\n");
    std::printf("bytes): read 10 holding registers from regprobe-sim in a child process\n");
    std::printf("%d rounds of %d persistent and %d reconnecting exchanges per contender,\n",
                opt.nRounds, opt.nPersistent, opt.nReconnect);
    std::printf("the contenders taking turns every %d exchanges%s\n\n", kSlice,
                opt.nCpu >= 0 ? ", all on one CPU" : "");
    std::printf("%-24s %-11s %14s %12s %12s\n", "framing, mode", "contender", "median/s", "min/s",
                "max/s");
    for (const CCase& c : cases) {
        for (int n = 0; n < kContenders; ++n) {
            const CSpread spread = Spread(c.rates[n]);
            std::printf("%-24s %-11s %14.0f %12.0f %12.0f\n", c.pszName, kNames[n], spread.dMedian,
                        spread.dMin, spread.dMax);
        }
    }
    std::printf("\nratios: the median of each round's own ratio\n");
    std::printf("%-24s %12s %20s %8s\n", "framing, mode", "ours/raw", "ours/raw bounded", "goal");
    for (const CCase& c : cases) {
        const double vsRaw = RatioOfRounds(c.rates[0], c.rates[1]);
        std::printf("%-24s %12.3f %20.3f %8s %s\n", c.pszName, vsRaw,
                    RatioOfRounds(c.rates[0], c.rates[2]), ">=0.95",
                    vsRaw >= 0.95 ? "met" : "NOT met");
    }
}
}  // namespace

int RunFramedBenches(const CFramedBenchOptions& opt) {
    CChild sims[2];
    std::vector<CCase> cases;
    try {
        const int nRtuPort = StartSimulator(sims[0], EFraming::RTU);
        const int nUdpPort = StartSimulator(sims[1], EFraming::UDP);
        cases.reserve(3);
        AddCase(cases, "rtu-over-tcp, persistent", EFraming::RTU, nRtuPort, false, opt.nPersistent);
        AddCase(cases, "rtu-over-tcp, reconnect", EFraming::RTU, nRtuPort, true, opt.nReconnect);
        AddCase(cases, "udp", EFraming::UDP, nUdpPort, false, opt.nPersistent);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const int rc = MeasureCases(opt, cases);
    if (rc == 0) {
        PrintCases(opt, cases);
    }
    return rc;
}
