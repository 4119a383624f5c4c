#include "ThreadScheduling.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>

#include "platform/UniqueFd.h"

namespace {
using Clock = std::chrono::steady_clock;

// Waiting to run this long in one exchange means that something else used
// the CPU meanwhile (the client or the device ending its turn takes
// microseconds). A kernel thread's occasional burst does that to one
// exchange; a busy CPU does it to every one.
constexpr unsigned long long kLongWaitNanos = 500000;
constexpr int kLongWaitsInARow = 2;
// How long a thread stays ordinary: doubled each time batch scheduling
// fails again within that long of being taken up, so that a CPU that stays
// busy pays for the tries more and more seldom.
constexpr auto kOrdinaryFirst = std::chrono::seconds(1);
constexpr auto kOrdinaryLongest = std::chrono::seconds(32);

std::atomic<bool> g_bStarted{false};

// The nanoseconds the calling thread has spent runnable but not running,
// from /proc/thread-self/schedstat (run time, wait, time slices).
class CRunDelay {
public:
    bool Read(unsigned long long* pnNanos) {
        if (!m_bOpened) {
            m_bOpened = true;
            m_hFile.Reset(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC));
        }
        char szText[128];
        const ssize_t n =
            m_hFile ? ::pread(m_hFile.Get(), szText, sizeof szText - 1, 0) : ssize_t(-1);
        if (n <= 0) {
            return false;
        }
        szText[n] = '\0';
        char* pszEnd = nullptr;
        std::strtoull(szText, &pszEnd, 10);
        const char* pszWait = pszEnd;
        *pnNanos = std::strtoull(pszWait, &pszEnd, 10);
        return pszEnd != pszWait;
    }

private:
    bool m_bOpened = false;
    CUniqueFd m_hFile;
};

struct CThreadState {
    CRunDelay runDelay;
    bool bSeen = false;
    bool bManaged = false;  // a batch thread when first seen
    bool bOrdinary = false;
    int nLongWaits = 0;  // in a row
    Clock::duration ordinaryFor = kOrdinaryFirst;
    Clock::time_point changed;
};

thread_local CThreadState t_state;

bool SetPolicy(int nPolicy) {
    const sched_param param{};
    return ::sched_setscheduler(0, nPolicy, &param) == 0;
}
}  // namespace

bool CThreadScheduling::Start() {
    unsigned long long nNanos = 0;
    if (!CRunDelay().Read(&nNanos) || !SetPolicy(SCHED_BATCH)) {
        return false;
    }
    g_bStarted = true;
    return true;
}

bool CThreadScheduling::BeforeExchange(unsigned long long* pnRunDelay) {
    CThreadState& state = t_state;
    if (!g_bStarted || (state.bSeen && !state.bManaged)) {
        return false;
    }
    if (!state.bSeen) {
        // Threads started by one that was ordinary then are left as they are.
        state.bSeen = true;
        state.bManaged = ::sched_getscheduler(0) == SCHED_BATCH;
    }
    return state.bManaged && state.runDelay.Read(pnRunDelay);
}

void CThreadScheduling::AfterExchange(unsigned long long nRunDelayBefore) {
    CThreadState& state = t_state;
    unsigned long long nRunDelay = 0;
    if (!state.runDelay.Read(&nRunDelay)) {
        return;
    }
    const Clock::time_point now = Clock::now();
    state.nLongWaits = nRunDelay - nRunDelayBefore > kLongWaitNanos ? state.nLongWaits + 1 : 0;
    if (!state.bOrdinary && state.nLongWaits >= kLongWaitsInARow && SetPolicy(SCHED_OTHER)) {
        const bool bSoon = now - state.changed < state.ordinaryFor;
        state.ordinaryFor = bSoon
                                ? std::min<Clock::duration>(2 * state.ordinaryFor, kOrdinaryLongest)
                                : Clock::duration(kOrdinaryFirst);
        state.bOrdinary = true;
        state.changed = now;
    } else if (state.bOrdinary && now - state.changed >= state.ordinaryFor) {
        state.bOrdinary = !SetPolicy(SCHED_BATCH);
        state.nLongWaits = 0;
        state.changed = now;
    }
}
