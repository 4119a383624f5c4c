#include "StopEvent.h"

#include <poll.h>
#include <sys/eventfd.h>

#include "platform/Deadline.h"
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
    if (nMillis <= 0) {
        return true;
    }
    return WaitUntil(m_hEvent.Get(), POLLIN, CDeadline::AfterMillis(nMillis)) == 0;
}
