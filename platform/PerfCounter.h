// High-resolution counter and millisecond clock over the monotonic clock.
#pragma once

#include "WinTypes.h"

union LARGE_INTEGER {
    LONGLONG QuadPart;
};

// Counts per second of QueryPerformanceCounter (nanoseconds here).
BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);
BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
// Milliseconds of the monotonic clock, wrapping at 32 bits.
DWORD timeGetTime();
