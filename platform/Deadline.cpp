#include "Deadline.h"

#include <cerrno>
#include <climits>
#include <ctime>

CDeadline CDeadline::AfterMillis(long long nMillis) {
    return After(std::chrono::milliseconds(nMillis > 0 ? nMillis : 0));
}

CDeadline CDeadline::After(std::chrono::nanoseconds wait) {
    const auto now = Clock::now();
    if (wait <= std::chrono::nanoseconds::zero()) {
        return CDeadline(now);
    }
    // A wait beyond what the clock can hold has no limit in practice.
    if (wait >=
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::time_point::max() - now)) {
        return Never();
    }
    return CDeadline(now + std::chrono::duration_cast<Clock::duration>(wait));
}

CDeadline::Clock::duration CDeadline::Left() const {
    if (IsNever()) {
        return Clock::duration::max();
    }
    const auto left = m_when - Clock::now();
    return left > Clock::duration::zero() ? left : Clock::duration::zero();
}

int CDeadline::MillisLeft() const {
    if (IsNever()) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(Left()).count();
    return left < INT_MAX ? static_cast<int>(left) : INT_MAX;
}

int WaitUntil(pollfd* pFds, nfds_t nFds, const CDeadline& deadline) {
    for (;;) {
        timespec wait{};
        timespec* pWait = nullptr;
        if (!deadline.IsNever()) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.Left());
            wait.tv_sec = static_cast<time_t>(left.count() / 1000000000);
            wait.tv_nsec = static_cast<long>(left.count() % 1000000000);
            pWait = &wait;
        }
        const int rc = ::ppoll(pFds, nFds, pWait, nullptr);
        if (rc >= 0 || errno != EINTR) {
            return rc;
        }
    }
}

int WaitUntil(int hFd, short events, const CDeadline& deadline) {
    pollfd pfd{hFd, events, 0};
    const int rc = WaitUntil(&pfd, 1, deadline);
    return rc > 0 ? pfd.revents : rc;
}
