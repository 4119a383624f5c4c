// The real poll rate of a polling window: completed cycles per second over
// the last few seconds, from the cycles' completion times. Unlike the
// statistics line's figure (1000 over the last read's milliseconds) it
// counts the interval, the window's own work and every wait.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

#include "platform/WinTypes.h"

class CPollRate {
public:
    using Clock = std::chrono::steady_clock;

    explicit CPollRate(Clock::duration window = std::chrono::seconds(5));

    void Reset();
    // A cycle completed at t; times come in order.
    void Add(Clock::time_point t);
    // Cycles per second between the last completion and the last one at or
    // before the window's start (the first one kept, early on); 0 before
    // the second completion.
    double PerSecond() const;
    // "  0.98 polls/s", to follow the read-time line; empty before a rate.
    CString Text() const;

    // At very high rates the window holds at most this many completions,
    // the newest.
    static constexpr std::size_t MAX_KEPT = 65536;

private:
    Clock::duration m_window;
    std::deque<Clock::time_point> m_times;
};
