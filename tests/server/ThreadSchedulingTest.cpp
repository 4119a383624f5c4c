// The server's threads as batch threads: they give way to a CPU that another
// program keeps busy, take batch scheduling up again once it is free, and
// leave threads that were never batch threads alone.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "server/ThreadScheduling.h"

namespace {
using Clock = std::chrono::steady_clock;

void PinTo(int nCpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(nCpu, &set);
    ASSERT_EQ(::sched_setaffinity(0, sizeof set, &set), 0);
}

// An exchange as the thread sees it: it waits (for the line) and is woken.
void Exchange() {
    unsigned long long nRunDelay = 0;
    const bool bWatched = CThreadScheduling::BeforeExchange(&nRunDelay);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (bWatched) {
        CThreadScheduling::AfterExchange(nRunDelay);
    }
}

// Exchanges until the thread runs under nPolicy or the time is up.
bool ExchangeUntil(int nPolicy, std::chrono::milliseconds limit) {
    const Clock::time_point until = Clock::now() + limit;
    while (::sched_getscheduler(0) != nPolicy && Clock::now() < until) {
        Exchange();
    }
    return ::sched_getscheduler(0) == nPolicy;
}

// A thread of ordinary scheduling spinning on nCpu while bBusy is set.
class CBusyCpu {
public:
    explicit CBusyCpu(int nCpu)
        : m_thread([this, nCpu] {
              PinTo(nCpu);
              const Clock::time_point until = Clock::now() + std::chrono::seconds(30);
              while (!m_bEnd && Clock::now() < until) {
                  if (!m_bBusy) {
                      std::this_thread::sleep_for(std::chrono::milliseconds(1));
                  }
              }
          }) {}
    ~CBusyCpu() {
        m_bEnd = true;
        m_thread.join();
    }
    void SetBusy(bool bBusy) { m_bBusy = bBusy; }

private:
    std::atomic<bool> m_bBusy{false};
    std::atomic<bool> m_bEnd{false};
    std::thread m_thread;
};

TEST(ThreadScheduling, BatchThreadsGiveWayToABusyCpuWhileItIsBusy) {
    const int nCpu = ::sched_getcpu();
    ASSERT_GE(nCpu, 0);
    CBusyCpu cpu(nCpu);
    bool bStarted = false;
    int nPolicy = -1;
    int nChildPolicy = -1;
    bool bLeft = false;
    bool bBack = false;
    std::thread server([&] {
        PinTo(nCpu);
        bStarted = CThreadScheduling::Start();
        nPolicy = ::sched_getscheduler(0);
        std::thread([&] { nChildPolicy = ::sched_getscheduler(0); }).join();
        cpu.SetBusy(true);
        bLeft = ExchangeUntil(SCHED_OTHER, std::chrono::seconds(2));
        cpu.SetBusy(false);
        // The first while lasts a second.
        bBack = ExchangeUntil(SCHED_BATCH, std::chrono::seconds(5));
    });
    server.join();
    if (::access("/proc/thread-self/schedstat", R_OK) != 0) {
        GTEST_SKIP() << "this kernel does not tell how long a thread waits to run";
    }
    EXPECT_TRUE(bStarted);
    EXPECT_EQ(nPolicy, SCHED_BATCH);
    EXPECT_EQ(nChildPolicy, SCHED_BATCH);
    EXPECT_TRUE(bLeft);
    EXPECT_TRUE(bBack);
}

TEST(ThreadScheduling, OrdinaryThreadsAreLeftAlone) {
    const int nCpu = ::sched_getcpu();
    ASSERT_GE(nCpu, 0);
    // Started in a thread of its own, so the test's threads stay ordinary.
    std::thread([] { CThreadScheduling::Start(); }).join();
    CBusyCpu cpu(nCpu);
    bool bBecameBatch = true;
    std::thread ordinary([&] {
        PinTo(nCpu);
        // Kept waiting by the busy CPU as a batch thread would be.
        ::setpriority(PRIO_PROCESS, 0, 19);
        cpu.SetBusy(true);
        for (int i = 0; i < 20; ++i) {
            Exchange();
        }
        cpu.SetBusy(false);
        bBecameBatch = ExchangeUntil(SCHED_BATCH, std::chrono::milliseconds(1500));
    });
    ordinary.join();
    EXPECT_FALSE(bBecameBatch);
}
}  // namespace
