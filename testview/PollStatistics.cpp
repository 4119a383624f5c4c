#include "PollStatistics.h"

#include <algorithm>
#include <cstdio>

#include "ReadWrite.h"

void CPollStatistics::Reset() {
    m_dwTotalTime = 0;
    m_nCycles = 0;
    m_nErrors = 0;
    m_qwTotalMicros = 0;
}

CString CPollStatistics::AddCycle(const CReadResult& result) {
    ++m_nCycles;
    const DWORD dwElapsed = result.bRead ? result.dwElapsed : 0;
    const ULONGLONG qwMicros = result.bRead ? result.qwMicros : 0;
    m_dwTotalTime += dwElapsed;
    m_qwTotalMicros += qwMicros;
    if (result.bRead && result.Failed()) {
        ++m_nErrors;
    }
    float fRate;
    // One microsecond at least: a divisor of 0 would print "inf".
    if (m_nCycles % 10 != 0) {
        fRate = 1000.0f / (float(std::max<ULONGLONG>(qwMicros, 1)) / 1000.0f);
    } else {
        fRate = 10000.0f / (float(std::max<ULONGLONG>(m_qwTotalMicros, 1)) / 1000.0f);
        m_dwTotalTime = 0;
        m_qwTotalMicros = 0;
    }
    char sz[96];
    std::snprintf(sz, sizeof sz, "%d Errors=%d  %4.2f(Up./s) ", m_nCycles, m_nErrors,
                  double(fRate));
    return sz;
}
