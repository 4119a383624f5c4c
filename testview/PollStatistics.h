// The statistics line of a polling window: cycles, failed cycles and the
// reads per second that the last read's duration allows (every tenth cycle:
// the last ten reads' average).
#pragma once

#include "platform/WinTypes.h"

struct CReadResult;

class CPollStatistics {
public:
    void Reset();
    // Counts one cycle and returns its line, e.g. "1 Errors=0  50.00(Up./s) ".
    // The rate's divisor comes from the microsecond clock, so a read faster
    // than a millisecond gives a finite rate; a cycle that read nothing adds 0.
    CString AddCycle(const CReadResult& result);

    DWORD m_dwTotalTime = 0;  // milliseconds since the last ten-cycle average
    int m_nCycles = 0;
    int m_nErrors = 0;
    ULONGLONG m_qwTotalMicros = 0;
};
