#include "WakeUpProbe.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

#include "BenchSupport.h"

namespace {
using Clock = std::chrono::steady_clock;

// Eventfd values: a ping adds 1; the thread partner stops on this.
constexpr uint64_t kStop = 2;
// How long an echo may take before the partner counts as gone, and how long
// a partner waits for the next ping (the bench measures Modbus in between).
constexpr int kAnswerMillis = 1000;
constexpr int kIdleMillis = int(kWatchdogSeconds) * 1000;
constexpr int kMaxEchoes = 10000000;

// Sends every ping back until told to stop, the other end closes, or
// nothing comes for too long.
void Echo(int hIn, int hOut) {
    for (int i = 0; i < kMaxEchoes; ++i) {
        pollfd pfd{hIn, POLLIN, 0};
        uint64_t value = 0;
        if (::poll(&pfd, 1, kIdleMillis) <= 0 ||
            ::read(hIn, &value, sizeof value) != sizeof value || value == kStop ||
            ::write(hOut, &value, sizeof value) != sizeof value) {
            return;
        }
    }
}
}  // namespace

CWakeUpProbe::~CWakeUpProbe() {
    if (m_thread.joinable()) {
        const uint64_t stop = kStop;
        if (::write(m_hToThread, &stop, sizeof stop) == sizeof stop) {
            m_thread.join();
        } else {
            m_thread.detach();  // cannot happen on an open eventfd
        }
    }
    for (int hFd : {m_hToThread, m_hFromThread, m_hProcess}) {
        if (hFd >= 0) {
            ::close(hFd);
        }
    }
    if (m_pid > 0) {
        StopProcess(m_pid);
    }
}

bool CWakeUpProbe::Start() {
    m_hToThread = ::eventfd(0, EFD_CLOEXEC);
    m_hFromThread = ::eventfd(0, EFD_CLOEXEC);
    int hPair[2];
    if (m_hToThread < 0 || m_hFromThread < 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, hPair) != 0) {
        return false;
    }
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(hPair[0]);
        if (::getppid() == parent) {
            Echo(hPair[1], hPair[1]);
        }
        _exit(0);
    }
    ::close(hPair[1]);
    m_hProcess = hPair[0];
    if (m_pid < 0) {
        return false;
    }
    m_thread = std::thread(Echo, m_hToThread, m_hFromThread);
    return true;
}

double CWakeUpProbe::RoundTripMicros(int hOut, int hIn) {
    const uint64_t ping = 1;
    const auto start = Clock::now();
    pollfd pfd{hIn, POLLIN, 0};
    uint64_t value = 0;
    if (::write(hOut, &ping, sizeof ping) != sizeof ping || ::poll(&pfd, 1, kAnswerMillis) <= 0 ||
        ::read(hIn, &value, sizeof value) != sizeof value) {
        return -1;
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

bool CWakeUpProbe::Measure(int n, std::chrono::microseconds pause) {
    for (int pace = 0; pace < PACE_COUNT; ++pace) {
        for (int partner = 0; partner < PARTNER_COUNT; ++partner) {
            const int hOut = partner == THREAD ? m_hToThread : m_hProcess;
            const int hIn = partner == THREAD ? m_hFromThread : m_hProcess;
            for (int i = 0; i < n; ++i) {
                if (pace == AFTER_PAUSE) {
                    std::this_thread::sleep_for(pause);
                }
                const double dMicros = RoundTripMicros(hOut, hIn);
                if (dMicros < 0) {
                    return false;
                }
                m_samples[partner][pace].push_back(dMicros / 2);
            }
        }
    }
    return true;
}
