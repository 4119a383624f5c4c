// Stopwatch over the high-resolution counter.
#pragma once

#include "platform/PerfCounter.h"

class CPerfTimer {
public:
    CPerfTimer();

    void Start() { QueryPerformanceCounter(&m_liStart); }
    void Stop() { QueryPerformanceCounter(&m_liStop); }
    // Seconds between the last Start and Stop; 0 without a counter.
    double Elapsed() const;

    BOOL m_bValid;
    LARGE_INTEGER m_liFrequency;
    LARGE_INTEGER m_liStop;
    LARGE_INTEGER m_liStart;
};
