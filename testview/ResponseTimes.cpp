#include "ResponseTimes.h"

#include <algorithm>
#include <bit>
#include <cstdio>

#include "ReadWrite.h"

void CResponseTimes::Reset() {
    *this = CResponseTimes();
}

int CResponseTimes::BinOf(std::uint64_t qwMicros) {
    if (qwMicros < SUB_BINS) {
        return int(qwMicros);
    }
    const int nOctave = std::bit_width(qwMicros) - 1;  // 6 and up
    if (nOctave >= OCTAVES) {
        return BIN_COUNT - 1;
    }
    const int nShift = nOctave - 6;
    const int nSub = int(qwMicros >> nShift) - SUB_BINS;
    return SUB_BINS + nShift * SUB_BINS + nSub;
}

std::uint64_t CResponseTimes::BinTop(int nBin) {
    if (nBin < SUB_BINS) {
        return std::uint64_t(nBin);
    }
    const int nShift = (nBin - SUB_BINS) / SUB_BINS;
    const int nSub = (nBin - SUB_BINS) % SUB_BINS;
    return ((std::uint64_t(SUB_BINS + nSub) + 1) << nShift) - 1;
}

void CResponseTimes::Add(const CReadResult& result) {
    if (!result.bRead) {
        return;
    }
    if (result.bTimedOut) {
        AddTimeout();
    } else {
        AddMicros(result.qwMicros);
    }
}

void CResponseTimes::AddMicros(std::uint64_t qwMicros) {
    m_qwMin = m_nCount == 0 ? qwMicros : std::min(m_qwMin, qwMicros);
    m_qwMax = std::max(m_qwMax, qwMicros);
    ++m_nCount;
    m_sum += qwMicros;
    m_qwLast = qwMicros;
    m_bLastTimedOut = false;
    ++m_bins[size_t(BinOf(qwMicros))];
}

void CResponseTimes::AddTimeout() {
    ++m_nTimeouts;
    m_bLastTimedOut = true;
}

double CResponseTimes::Mean() const {
    return m_nCount == 0 ? 0.0 : double(m_sum / (long double)m_nCount);
}

std::uint64_t CResponseTimes::Percentile(int nPercent) const {
    if (m_nCount == 0) {
        return 0;
    }
    // The rank of the read at that percentile, counted from 1.
    const std::uint64_t nRank = std::max<std::uint64_t>(1, (m_nCount * nPercent + 99) / 100);
    std::uint64_t nSeen = 0;
    for (int i = 0; i < BIN_COUNT; ++i) {
        nSeen += m_bins[size_t(i)];
        if (nSeen >= nRank) {
            return std::clamp(BinTop(i), m_qwMin, m_qwMax);
        }
    }
    return m_qwMax;
}

CString CResponseTimes::Line() const {
    auto ms = [](double micros) { return micros / 1000.0; };
    char szLast[32];
    if (m_bLastTimedOut) {
        std::snprintf(szLast, sizeof szLast, "time-out");
    } else if (m_nCount == 0) {
        std::snprintf(szLast, sizeof szLast, "-");
    } else {
        std::snprintf(szLast, sizeof szLast, "%.3f ms", ms(double(m_qwLast)));
    }
    char sz[192];
    if (m_nCount == 0) {
        std::snprintf(sz, sizeof sz, "Read %s  Time-outs %llu", szLast,
                      static_cast<unsigned long long>(m_nTimeouts));
    } else {
        std::snprintf(sz, sizeof sz,
                      "Read %s  min %.3f / mean %.3f / max %.3f / p99 %.3f ms  Time-outs %llu",
                      szLast, ms(double(m_qwMin)), ms(Mean()), ms(double(m_qwMax)),
                      ms(double(Percentile(99))), static_cast<unsigned long long>(m_nTimeouts));
    }
    return sz;
}
