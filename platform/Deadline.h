// An absolute point on the steady clock by which a wait must end, and the
// one wait on descriptors that keeps it. A time-out given in milliseconds is
// turned into a deadline once, at the start of the work it bounds; every
// wait inside that work then asks how much is left, so a loop of waits never
// adds up to more than the time-out.
#pragma once

#include <poll.h>

#include <chrono>

class CDeadline {
public:
    using Clock = std::chrono::steady_clock;

    // No deadline: waits without limit.
    CDeadline() = default;
    explicit CDeadline(Clock::time_point when) : m_when(when) {}
    static CDeadline Never() { return CDeadline(); }
    // nMillis from now; 0 or less is now, so a wait only takes what is ready.
    static CDeadline AfterMillis(long long nMillis);
    static CDeadline After(std::chrono::nanoseconds wait);

    bool IsNever() const { return m_when == Clock::time_point::max(); }
    bool HasPassed() const { return !IsNever() && Clock::now() >= m_when; }
    Clock::time_point When() const { return m_when; }
    // What is left: zero once passed, Clock::duration::max() for never.
    Clock::duration Left() const;
    // Milliseconds left rounded up, so that a wait given them never ends
    // before the deadline: 0 once passed, -1 for never, at most INT_MAX.
    int MillisLeft() const;

    bool operator<(const CDeadline& other) const { return m_when < other.m_when; }

private:
    Clock::time_point m_when = Clock::time_point::max();
};

// Waits until one of the descriptors has an event or the deadline passes,
// with the kernel's exact timer. A signal resumes the wait with what is left.
// Returns the number of descriptors with events, 0 at the deadline, -1 with
// errno when poll fails.
int WaitUntil(pollfd* pFds, nfds_t nFds, const CDeadline& deadline);
// The same for one descriptor: its revents (never 0 when ready), 0 at the
// deadline, -1 with errno.
int WaitUntil(int hFd, short events, const CDeadline& deadline);
