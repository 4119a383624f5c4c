// The signal that tells every thread of a server to stop: an eventfd that
// becomes readable once and stays so, to poll beside the sockets or lines a
// thread waits on.
#pragma once

#include "platform/UniqueFd.h"

class CStopEvent {
public:
    // FALSE with errno set when no event can be made.
    bool Create();
    // Makes the event readable; false when it cannot be written.
    bool Signal();
    // Closes it; only once no thread polls it any more.
    void Close() { m_hEvent.Reset(); }
    int Get() const { return m_hEvent.Get(); }
    bool IsValid() const { return m_hEvent.IsValid(); }

    // Waits nMillis (rounded up: a delay is a floor a peer can measure
    // against) unless the event is signalled first; false when it is.
    bool Wait(int nMillis) const;

private:
    CUniqueFd m_hEvent;
};
