#include "PerfTimer.h"

CPerfTimer::CPerfTimer() : m_liFrequency{0}, m_liStop{0}, m_liStart{0} {
    m_bValid = QueryPerformanceFrequency(&m_liFrequency);
}

double CPerfTimer::Elapsed() const {
    if (!m_bValid || m_liFrequency.QuadPart == 0) {
        return 0.0;
    }
    return static_cast<double>(m_liStop.QuadPart - m_liStart.QuadPart) /
           static_cast<double>(m_liFrequency.QuadPart);
}
