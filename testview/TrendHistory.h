// What a test window's trend chart draws from: for each plotted row, its
// values over time kept as min, max and last per time bucket, on levels of
// ever coarser buckets, each level a ring of a fixed number of buckets. The
// memory is fixed by the ring sizes however long polling runs:
//
//   16 traces x 8 levels x 2048 buckets x 32 bytes  =  8 MiB
//   + 8 levels x 2048 cycle buckets x 24 bytes      =  384 KiB
//
// so 24 hours at 100 reads a second of 16 traces take the same 8.4 MiB as one
// hour does (the bound asked of it is 64 MB). The finest level has 10 ms
// buckets and keeps the last 20 s; each level's buckets are four times
// longer than the one before, and the eighth keeps 93 hours.
//
// The rings grow to their size as time passes (a level holds no more than
// the time since the first sample). By its own count, one hour at 100 reads
// a second of 16 traces takes 5.8 MB; the growth of its second half hour
// carried on for 23 more hours gives 39 MB, and full rings are the 8.4 MiB
// above.
//
// A failed read is a gap in every trace, never a value. The traces belong to
// one set of read settings (connection, device, function, type, address,
// quantity): samples read with other settings start new traces.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "RowFormat.h"
#include "platform/WinTypes.h"

// What the samples were read with; traces of different keys never mix.
struct CTrendKey {
    CString strConnection;
    CString strDevice;
    int nReadFunction = -1;
    int nDataType = -1;
    long nAddress = 0;
    long nQuantity = 0;

    bool operator==(const CTrendKey&) const = default;
};

// One poll cycle as the chart takes it.
struct CTrendSample {
    std::int64_t nMillis = 0;  // wall clock, milliseconds since 1970
    CTrendKey key;
    bool bFailed = false;
    CString strStatus;
    std::uint64_t qwMicros = 0;  // the read's round trip
    CDecodedValues values;       // empty when the read failed
};

struct CTrendBucket {
    double dMin = 0;
    double dMax = 0;
    std::uint64_t nLastBits = 0;  // the last value's bits, as read
    std::uint32_t nCount = 0;     // values in the bucket; 0: none
    bool bGap = false;            // a failed read fell in it
};

// One bucket of a trace as drawn: its start and values.
struct CTrendPoint {
    std::int64_t nMillis = 0;
    double dMin = 0;
    double dMax = 0;
    double dLast = 0;
};
// Points not parted by a failed read.
using CTrendRun = std::vector<CTrendPoint>;

// A value's bits as a number for the chart.
double TrendNumber(ValueKind kind, std::uint64_t nBits);

class CTrendHistory {
public:
    static constexpr int LEVELS = 8;
    static constexpr std::int64_t BUCKETS = 2048;
    static constexpr std::int64_t FINEST_MILLIS = 10;
    static constexpr std::int64_t LEVEL_RATIO = 4;
    static constexpr size_t MAX_TRACES = 16;

    // Bucket length of a level in milliseconds.
    static std::int64_t BucketMillis(int nLevel);
    // The finest level whose ring reaches back to nFrom from the newest
    // sample and whose buckets are no shorter than nMinBucketMillis.
    int LevelFor(std::int64_t nFrom, std::int64_t nMinBucketMillis) const;

    // Records a cycle. Other settings than the traces' start new traces
    // (the rows chosen are kept); a time earlier than the last counts as
    // the last (the wall clock was set back).
    void Add(const CTrendSample& sample);
    // Forgets every trace and the settings.
    void Reset();

    // The rows plotted, by position in the read; the first MAX_TRACES rows
    // when none were chosen. A row newly chosen starts with no history.
    void ChooseRows(std::vector<int> rows);
    const std::vector<int>& ChosenRows() const { return m_chosen; }

    bool Empty() const { return m_nSamples == 0; }
    const CTrendKey& Key() const { return m_key; }
    std::int64_t NewestMillis() const { return m_nNewest; }
    std::int64_t OldestMillis() const { return m_nOldest; }
    // Rows the last read had (all that could be chosen).
    int RowCount() const { return m_nRowCount; }

    size_t TraceCount() const { return m_traces.size(); }
    int TraceRow(size_t nTrace) const { return m_traces[nTrace].nRow; }
    // The row as the value list last showed it, "" before the first value.
    CString TraceLastText(size_t nTrace) const;
    // The trace's runs of buckets of the level that overlap [nFrom, nTo).
    std::vector<CTrendRun> Runs(size_t nTrace, int nLevel, std::int64_t nFrom,
                                std::int64_t nTo) const;
    // The trace's last value at or before nMillis on the level, when one
    // was read in the level's ring and no read failed after it.
    std::optional<double> ValueAt(size_t nTrace, int nLevel, std::int64_t nMillis) const;
    // The bucket of a trace holding nMillis, the finer levels' newest data
    // included; a default bucket outside the ring.
    CTrendBucket BucketAt(size_t nTrace, int nLevel, std::int64_t nMillis) const;

    // The value log's lines for the buckets of the level in [nFrom, nTo)
    // in which a read was made: the bucket's start, the settings, the last
    // read's status, the mean read time and the traces' last rows as shown.
    std::vector<CString> LogLines(int nLevel, std::int64_t nFrom, std::int64_t nTo) const;

    // Bytes held, by its own count of what it allocated.
    size_t MemoryBytes() const;

private:
    struct CCycleBucket {
        std::uint64_t qwMicros = 0;  // summed over the reads
        std::uint32_t nReads = 0;
        std::uint16_t nStatus = 0;  // the last read's, in m_statuses
        bool bFailed = false;       // the last read failed

        friend void Merge(CCycleBucket& dst, const CCycleBucket& src) {
            if (src.nReads > 0) {
                dst.nStatus = src.nStatus;
                dst.bFailed = src.bFailed;
            }
            dst.qwMicros += src.qwMicros;
            dst.nReads += src.nReads;
        }
    };
    // A ring of buckets with its newest bucket's number (time / length),
    // grown a bucket at a time from its first (nBase) up to BUCKETS: a
    // history costs what it holds until its rings are full.
    template <typename B>
    struct CRing {
        std::vector<B> buckets;
        std::int64_t nBase = 0;
        std::int64_t nHead = 0;
        void Start(std::int64_t n) {
            buckets.assign(1, B());
            nBase = nHead = n;
        }
        B& At(std::int64_t n) { return buckets[size_t((n - nBase) % BUCKETS)]; }
        const B& At(std::int64_t n) const { return buckets[size_t((n - nBase) % BUCKETS)]; }
        bool Holds(std::int64_t n) const { return n <= nHead && n > nHead - BUCKETS && n >= nBase; }
    };
    struct CTrace {
        int nRow = 0;
        unsigned nAddress = 0;
        ValueKind kind = ValueKind::Uint16;
        bool bLast = false;  // a value was read
        std::uint64_t nLastBits = 0;
        CRing<CTrendBucket> levels[LEVELS];
    };

    void StartTrace(CTrace& trace, int nRow) const;
    // Moves every level's newest bucket to the one holding nMillis, folding
    // each closed bucket into the next level.
    template <typename B>
    static void Advance(CRing<B>* levels, std::int64_t nMillis);
    template <typename B>
    static B Combined(const CRing<B>* levels, int nLevel, std::int64_t nBucket);
    std::uint16_t StatusIndex(const CString& strStatus);

    CTrendKey m_key;
    std::vector<int> m_chosen;
    std::vector<CTrace> m_traces;
    CRing<CCycleBucket> m_cycles[LEVELS];
    std::vector<CString> m_statuses;
    std::int64_t m_nNewest = 0;
    std::int64_t m_nOldest = 0;
    std::int64_t m_nSamples = 0;
    int m_nRowCount = 0;
};
