#include "PollRate.h"

#include <cstdio>

CPollRate::CPollRate(Clock::duration window) : m_window(window) {}

void CPollRate::Reset() {
    m_times.clear();
}

void CPollRate::Add(Clock::time_point t) {
    m_times.push_back(t);
    // One completion at or before the window's start stays: it begins the
    // first interval that ends inside the window.
    const Clock::time_point start = t - m_window;
    while (m_times.size() > 2 && m_times[1] <= start) {
        m_times.pop_front();
    }
    while (m_times.size() > MAX_KEPT) {
        m_times.pop_front();
    }
}

double CPollRate::PerSecond() const {
    if (m_times.size() < 2) {
        return 0.0;
    }
    const double dSeconds = std::chrono::duration<double>(m_times.back() - m_times.front()).count();
    return dSeconds > 0.0 ? double(m_times.size() - 1) / dSeconds : 0.0;
}

CString CPollRate::Text() const {
    if (m_times.size() < 2) {
        return CString();
    }
    char sz[48];
    std::snprintf(sz, sizeof sz, "  %.2f polls/s", PerSecond());
    return sz;
}
