#include "StopEvent.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <chrono>

#include "platform/WinTypes.h"

bool CStopEvent::Create() {
    m_hEvent.Reset(::eventfd(0, EFD_CLOEXEC));
    return m_hEvent.IsValid();
}

bool CStopEvent::Signal() {
    const ULONGLONG one = 1;
    return ::write(m_hEvent.Get(), &one, sizeof one) == sizeof one;
}

bool CStopEvent::Wait(int nMillis) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return true;
        }
        pollfd pfd{m_hEvent.Get(), POLLIN, 0};
        const int rc = ::poll(&pfd, 1, static_cast<int>(left));
        if (rc > 0 || (rc < 0 && errno != EINTR)) {
            return false;
        }
    }
}
