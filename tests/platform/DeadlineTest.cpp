// Deadlines and the one wait that keeps them, signals and all.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "platform/Deadline.h"

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(Deadline, MillisLeftRoundUpAndNeverIsMinusOne) {
    EXPECT_EQ(CDeadline::Never().MillisLeft(), -1);
    EXPECT_EQ(CDeadline::AfterMillis(0).MillisLeft(), 0);
    EXPECT_EQ(CDeadline::AfterMillis(-5).MillisLeft(), 0);
    EXPECT_TRUE(CDeadline::AfterMillis(0).HasPassed());
    // Some microseconds pass between making it and asking: still 1000, not 999.
    EXPECT_EQ(CDeadline::AfterMillis(1000).MillisLeft(), 1000);
    EXPECT_EQ(CDeadline(Clock::now() + std::chrono::microseconds(10)).MillisLeft(), 1);
    EXPECT_TRUE(CDeadline::After(std::chrono::nanoseconds::max()).IsNever());
}

void OnSignal(int) {}

// A pipe nobody writes: every wait on it ends at its deadline. Meanwhile
// another thread interrupts the waiter with signals every few milliseconds;
// neither shortens nor stretches the wait.
class WaitUntilDeadline : public testing::TestWithParam<int> {};

TEST_P(WaitUntilDeadline, EndsAtTheDeadlineThroughSignals) {
    struct sigaction action {};
    action.sa_handler = OnSignal;  // no SA_RESTART: every signal is an EINTR
    struct sigaction old {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &old), 0);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::atomic<bool> bDone{false};
    const pthread_t waiter = ::pthread_self();
    std::thread interrupter([&] {
        for (int i = 0; i < 20000 && !bDone; ++i) {
            ::pthread_kill(waiter, SIGUSR1);
            std::this_thread::sleep_for(milliseconds(3));
        }
    });
    const int nMillis = GetParam();
    const auto start = Clock::now();
    const int rc = WaitUntil(fds[0], POLLIN, CDeadline::AfterMillis(nMillis));
    const auto elapsed = Clock::now() - start;
    bDone = true;
    interrupter.join();
    ::sigaction(SIGUSR1, &old, nullptr);
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(rc, 0);
    EXPECT_GE(elapsed, milliseconds(nMillis));
    // Bounded loosely: a busy machine is late to wake anyone; an interrupted
    // wait that started over would be late by far more.
    EXPECT_LT(elapsed, milliseconds(nMillis + 60 + nMillis / 10));
}

INSTANTIATE_TEST_SUITE_P(Waits, WaitUntilDeadline, testing::Values(1, 50, 700));

TEST(Deadline, ReadyDescriptorAnswersAtOnceAndAPassedDeadlineOnlyChecks) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_EQ(WaitUntil(fds[0], POLLIN, CDeadline::AfterMillis(0)), 0);
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    const auto start = Clock::now();
    EXPECT_EQ(WaitUntil(fds[0], POLLIN, CDeadline::Never()), POLLIN);
    EXPECT_EQ(WaitUntil(fds[0], POLLIN, CDeadline::AfterMillis(0)), POLLIN);
    EXPECT_LT(Clock::now() - start, milliseconds(50));
    ::close(fds[0]);
    ::close(fds[1]);
}
}  // namespace
