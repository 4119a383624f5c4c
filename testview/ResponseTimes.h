// Read times of a polling window since polling started: the last one, the
// minimum, mean, maximum and 99th percentile, with time-outs counted apart.
// Constant memory: the percentile comes from a fixed histogram whose bins are
// exact below 64 µs and 1/64 of their octave wide above.
#pragma once

#include <array>
#include <cstdint>

#include "platform/WinTypes.h"

struct CReadResult;

class CResponseTimes {
public:
    void Reset();
    // A read that read nothing (no connection) is left out; a time-out is
    // counted but its time is not a response time.
    void Add(const CReadResult& result);
    void AddMicros(std::uint64_t qwMicros);
    void AddTimeout();

    std::uint64_t Count() const { return m_nCount; }
    std::uint64_t Timeouts() const { return m_nTimeouts; }
    std::uint64_t Last() const { return m_qwLast; }
    std::uint64_t Min() const { return m_qwMin; }
    std::uint64_t Max() const { return m_qwMax; }
    double Mean() const;
    // The smallest time that at least nPercent % of the reads took no longer
    // than, to within its bin (never outside min..max); 0 with no reads.
    std::uint64_t Percentile(int nPercent) const;

    // "Read 20.114 ms  min 20.050 / mean 20.102 / max 20.300 / p99 20.280 ms
    // Time-outs 0": milliseconds with three decimals.
    CString Line() const;

    static constexpr int SUB_BINS = 64;
    // Up to 2^27 µs (over two minutes); longer reads fill the last bin.
    static constexpr int OCTAVES = 27;
    static constexpr int BIN_COUNT = SUB_BINS + (OCTAVES - 6) * SUB_BINS;
    static int BinOf(std::uint64_t qwMicros);
    // The largest time that falls in the bin.
    static std::uint64_t BinTop(int nBin);

private:
    std::array<std::uint64_t, BIN_COUNT> m_bins{};
    std::uint64_t m_nCount = 0;
    std::uint64_t m_nTimeouts = 0;
    std::uint64_t m_qwLast = 0;
    std::uint64_t m_qwMin = 0;
    std::uint64_t m_qwMax = 0;
    long double m_sum = 0;
    bool m_bLastTimedOut = false;
};
