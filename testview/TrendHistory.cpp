#include "TrendHistory.h"

#include <algorithm>
#include <cmath>

#include "ValueLog.h"
#include "core/WordOrder.h"

namespace {
void Merge(CTrendBucket& dst, const CTrendBucket& src) {
    if (src.nCount > 0) {
        dst.dMin = dst.nCount > 0 ? std::min(dst.dMin, src.dMin) : src.dMin;
        dst.dMax = dst.nCount > 0 ? std::max(dst.dMax, src.dMax) : src.dMax;
        dst.nLastBits = src.nLastBits;
        dst.nCount += src.nCount;
    }
    dst.bGap = dst.bGap || src.bGap;
}

size_t StringBytes(const CString& str) {
    // Short strings live inside the object.
    return str.capacity() > CString().capacity() ? str.capacity() + 1 : 0;
}
}  // namespace

double TrendNumber(ValueKind kind, std::uint64_t nBits) {
    switch (kind) {
        case ValueKind::Int16:
            return double(static_cast<std::int16_t>(nBits));
        case ValueKind::Int32:
            return double(static_cast<std::int32_t>(nBits));
        case ValueKind::Uint32:
            return double(static_cast<std::uint32_t>(nBits));
        case ValueKind::Float:
            return double(BitsFloat(std::uint32_t(nBits)));
        case ValueKind::Double:
            return BitsDouble(nBits);
        case ValueKind::Int64:
            return double(static_cast<std::int64_t>(nBits));
        case ValueKind::Uint64:
            return double(nBits);
        case ValueKind::Bit:
            return nBits != 0 ? 1.0 : 0.0;
        case ValueKind::Char:
        case ValueKind::Uint16:
        case ValueKind::Hex16:
        case ValueKind::Binary16:
            break;
    }
    return double(static_cast<std::uint16_t>(nBits));
}

std::int64_t CTrendHistory::BucketMillis(int nLevel) {
    std::int64_t n = FINEST_MILLIS;
    for (int i = 0; i < nLevel; ++i) {
        n *= LEVEL_RATIO;
    }
    return n;
}

int CTrendHistory::LevelFor(std::int64_t nFrom, std::int64_t nMinBucketMillis) const {
    for (int nLevel = 0; nLevel < LEVELS; ++nLevel) {
        const std::int64_t nLength = BucketMillis(nLevel);
        if (nLength < nMinBucketMillis) {
            continue;
        }
        const std::int64_t nOldest = (m_nNewest / nLength - BUCKETS + 1) * nLength;
        if (nFrom >= nOldest) {
            return nLevel;
        }
    }
    return LEVELS - 1;
}

template <typename B>
void CTrendHistory::Advance(CRing<B>* levels, std::int64_t nMillis) {
    for (int nLevel = 0; nLevel < LEVELS; ++nLevel) {
        CRing<B>& ring = levels[nLevel];
        const std::int64_t nNew = nMillis / BucketMillis(nLevel);
        if (nNew <= ring.nHead) {
            return;  // nor do the coarser ones move
        }
        // The next level's newest bucket is the one this bucket lies in.
        if (nLevel + 1 < LEVELS) {
            CRing<B>& next = levels[nLevel + 1];
            Merge(next.At(next.nHead), ring.At(ring.nHead));
        }
        if (nNew - ring.nHead >= BUCKETS) {
            ring.buckets.assign(size_t(BUCKETS), B());  // every bucket is a new one
        } else {
            for (std::int64_t n = ring.nHead + 1; n <= nNew; ++n) {
                if (n - ring.nBase < BUCKETS) {
                    ring.buckets.push_back(B());  // still growing: n is the next
                } else {
                    ring.At(n) = B();
                }
            }
        }
        ring.nHead = nNew;
    }
}

template <typename B>
B CTrendHistory::Combined(const CRing<B>* levels, int nLevel, std::int64_t nBucket) {
    const CRing<B>& ring = levels[nLevel];
    if (!ring.Holds(nBucket)) {
        return B();
    }
    B bucket = ring.At(nBucket);
    if (nBucket == ring.nHead) {
        // The finer levels' newest buckets are not folded in yet; they are
        // later than everything folded, coarsest first.
        for (int n = nLevel - 1; n >= 0; --n) {
            Merge(bucket, levels[n].At(levels[n].nHead));
        }
    }
    return bucket;
}

void CTrendHistory::StartTrace(CTrace& trace, int nRow) const {
    trace.nRow = nRow;
    for (int nLevel = 0; nLevel < LEVELS; ++nLevel) {
        trace.levels[nLevel].Start(m_nNewest / BucketMillis(nLevel));
    }
}

void CTrendHistory::Reset() {
    m_key = CTrendKey();
    m_traces.clear();
    m_traces.shrink_to_fit();
    for (auto& ring : m_cycles) {
        ring.buckets.clear();
        ring.buckets.shrink_to_fit();
        ring.nBase = ring.nHead = 0;
    }
    m_statuses.clear();
    m_nNewest = m_nOldest = m_nSamples = 0;
    m_nRowCount = 0;
}

void CTrendHistory::ChooseRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [](int n) { return n < 0; }), rows.end());
    if (rows.size() > MAX_TRACES) {
        rows.resize(MAX_TRACES);
    }
    m_chosen = rows;
    if (m_nSamples == 0) {
        return;
    }
    if (rows.empty()) {
        for (int n = 0; n < std::min(m_nRowCount, int(MAX_TRACES)); ++n) {
            rows.push_back(n);
        }
    }
    std::vector<CTrace> traces(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        auto it = std::find_if(m_traces.begin(), m_traces.end(),
                               [&](const CTrace& t) { return t.nRow == rows[i]; });
        if (it != m_traces.end()) {
            traces[i] = std::move(*it);
        } else {
            StartTrace(traces[i], rows[i]);
        }
    }
    m_traces = std::move(traces);
}

std::uint16_t CTrendHistory::StatusIndex(const CString& strStatus) {
    constexpr size_t MAX_STATUSES = 256;
    for (size_t i = 0; i < m_statuses.size(); ++i) {
        if (m_statuses[i] == strStatus) {
            return std::uint16_t(i);
        }
    }
    if (m_statuses.size() == MAX_STATUSES) {
        m_statuses.back() = strStatus;  // a rare text more: the last slot is reused
    } else {
        m_statuses.push_back(strStatus);
    }
    return std::uint16_t(m_statuses.size() - 1);
}

void CTrendHistory::Add(const CTrendSample& sample) {
    if (m_nSamples > 0 && !(sample.key == m_key)) {
        std::vector<int> chosen = std::move(m_chosen);
        Reset();
        m_chosen = std::move(chosen);
    }
    const std::int64_t nMillis = m_nSamples > 0 ? std::max(sample.nMillis, m_nNewest)
                                                : std::max<std::int64_t>(sample.nMillis, 0);
    if (m_nSamples == 0) {
        m_key = sample.key;
        m_nNewest = m_nOldest = nMillis;
        for (int nLevel = 0; nLevel < LEVELS; ++nLevel) {
            m_cycles[nLevel].Start(nMillis / BucketMillis(nLevel));
        }
    }
    ++m_nSamples;
    m_nNewest = nMillis;
    Advance(m_cycles, nMillis);
    CCycleBucket& cycle = m_cycles[0].At(m_cycles[0].nHead);
    ++cycle.nReads;
    cycle.qwMicros += sample.qwMicros;
    cycle.nStatus = StatusIndex(sample.strStatus);
    cycle.bFailed = sample.bFailed;
    for (CTrace& trace : m_traces) {
        Advance(trace.levels, nMillis);
    }
    if (sample.bFailed) {
        for (CTrace& trace : m_traces) {
            trace.levels[0].At(trace.levels[0].nHead).bGap = true;
        }
        return;
    }
    m_nRowCount = int(sample.values.size());
    if (m_traces.empty()) {
        ChooseRows(m_chosen);
    }
    for (CTrace& trace : m_traces) {
        if (trace.nRow >= m_nRowCount) {
            continue;
        }
        const CTypedValue& value = sample.values[size_t(trace.nRow)];
        trace.nAddress = value.nAddress;
        trace.kind = value.kind;
        trace.bLast = true;
        trace.nLastBits = value.nBits;
        const double d = TrendNumber(value.kind, value.nBits);
        if (!std::isfinite(d)) {
            continue;  // nothing to draw; the legend shows it
        }
        CTrendBucket one;
        one.dMin = one.dMax = d;
        one.nLastBits = value.nBits;
        one.nCount = 1;
        Merge(trace.levels[0].At(trace.levels[0].nHead), one);
    }
}

CString CTrendHistory::TraceLastText(size_t nTrace) const {
    const CTrace& trace = m_traces[nTrace];
    return trace.bLast ? RowText({trace.nAddress, trace.kind, trace.nLastBits}) : CString();
}

CTrendBucket CTrendHistory::BucketAt(size_t nTrace, int nLevel, std::int64_t nMillis) const {
    if (nMillis < 0) {
        return CTrendBucket();
    }
    return Combined(m_traces[nTrace].levels, nLevel, nMillis / BucketMillis(nLevel));
}

std::vector<CTrendRun> CTrendHistory::Runs(size_t nTrace, int nLevel, std::int64_t nFrom,
                                           std::int64_t nTo) const {
    std::vector<CTrendRun> runs;
    const CTrace& trace = m_traces[nTrace];
    const CRing<CTrendBucket>& ring = trace.levels[nLevel];
    const std::int64_t nLength = BucketMillis(nLevel);
    const std::int64_t nFirst = std::max({nFrom / nLength, ring.nHead - BUCKETS + 1, ring.nBase});
    const std::int64_t nLast = std::min((nTo - 1) / nLength, ring.nHead);
    CTrendRun run;
    for (std::int64_t n = nFirst; n <= nLast; ++n) {
        const CTrendBucket bucket = Combined(trace.levels, nLevel, n);
        if (bucket.bGap && !run.empty()) {
            runs.push_back(std::move(run));
            run.clear();
        }
        if (bucket.nCount > 0) {
            run.push_back(
                {n * nLength, bucket.dMin, bucket.dMax, TrendNumber(trace.kind, bucket.nLastBits)});
        }
    }
    if (!run.empty()) {
        runs.push_back(std::move(run));
    }
    return runs;
}

std::optional<double> CTrendHistory::ValueAt(size_t nTrace, int nLevel,
                                             std::int64_t nMillis) const {
    const CTrace& trace = m_traces[nTrace];
    const CRing<CTrendBucket>& ring = trace.levels[nLevel];
    if (nMillis < 0) {
        return std::nullopt;
    }
    for (std::int64_t n = std::min(nMillis / BucketMillis(nLevel), ring.nHead); ring.Holds(n);
         --n) {
        const CTrendBucket bucket = Combined(trace.levels, nLevel, n);
        if (bucket.nCount > 0) {
            return TrendNumber(trace.kind, bucket.nLastBits);
        }
        if (bucket.bGap) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::vector<CString> CTrendHistory::LogLines(int nLevel, std::int64_t nFrom,
                                             std::int64_t nTo) const {
    std::vector<CString> lines{g_szLogHeader};
    if (m_nSamples == 0) {
        return lines;
    }
    const CRing<CCycleBucket>& ring = m_cycles[nLevel];
    const std::int64_t nLength = BucketMillis(nLevel);
    const std::int64_t nFirst = std::max({nFrom / nLength, ring.nHead - BUCKETS + 1, ring.nBase});
    const std::int64_t nLast = std::min((nTo - 1) / nLength, ring.nHead);
    const bool bFunction = m_key.nReadFunction >= 0 && m_key.nReadFunction < READ_FUNCTION_COUNT;
    const CString strFunction = bFunction ? g_szReadFunctions[m_key.nReadFunction] : "";
    std::vector<CString> rows;
    for (std::int64_t n = nFirst; n <= nLast; ++n) {
        const CCycleBucket cycle = Combined(m_cycles, nLevel, n);
        if (cycle.nReads == 0) {
            continue;
        }
        rows.clear();
        for (size_t i = 0; i < m_traces.size() && !cycle.bFailed; ++i) {
            const CTrendBucket bucket = Combined(m_traces[i].levels, nLevel, n);
            if (bucket.nCount > 0) {
                rows.push_back(RowText({m_traces[i].nAddress, m_traces[i].kind, bucket.nLastBits}));
            }
        }
        lines.push_back(FormatLogLine(n * nLength, m_key.strConnection, m_key.strDevice,
                                      strFunction, m_statuses[cycle.nStatus],
                                      cycle.qwMicros / cycle.nReads, rows));
    }
    return lines;
}

size_t CTrendHistory::MemoryBytes() const {
    size_t n = sizeof *this + StringBytes(m_key.strConnection) + StringBytes(m_key.strDevice) +
               m_chosen.capacity() * sizeof(int) + m_traces.capacity() * sizeof(CTrace) +
               m_statuses.capacity() * sizeof(CString);
    for (const CString& str : m_statuses) {
        n += StringBytes(str);
    }
    for (const auto& ring : m_cycles) {
        n += ring.buckets.capacity() * sizeof(CCycleBucket);
    }
    for (const CTrace& trace : m_traces) {
        for (const auto& ring : trace.levels) {
            n += ring.buckets.capacity() * sizeof(CTrendBucket);
        }
    }
    return n;
}
