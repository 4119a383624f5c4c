// A connected byte stream that a server reads requests from and writes
// answers to: a plain TCP socket, or a secured connection over one. The
// framers read through it, so the framing never depends on what carries it.
#pragma once

#include <sys/types.h>

#include "platform/WinTypes.h"

class CByteStream {
public:
    virtual ~CByteStream() = default;

    // The descriptor whose readability means Receive has something.
    virtual int Handle() const = 0;
    // True when Receive has bytes without waiting for the descriptor: taken
    // off it already and held.
    virtual bool HasPending() { return false; }
    // Up to n bytes, once the descriptor was readable or HasPending; 0 when
    // the stream has ended (closed, or failed); -1 when nothing is there yet
    // and the caller waits for the descriptor again.
    virtual ssize_t Receive(BYTE* pb, size_t n) = 0;
    // Sends all n bytes; false when the stream fails or its send time-out
    // passes.
    virtual bool Send(const BYTE* pb, size_t n) = 0;
};
