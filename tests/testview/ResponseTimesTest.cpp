// Read-time statistics: exact where the histogram must be, within a bin where
// it may be, and time-outs kept out of the times.
#include <gtest/gtest.h>

#include "testview/ReadWrite.h"
#include "testview/ResponseTimes.h"

namespace {
TEST(ResponseTimes, BinsCoverEveryTimeInOrderAndWithinTheirWidth) {
    int nLast = -1;
    for (std::uint64_t q : {0ull, 1ull, 63ull, 64ull, 65ull, 127ull, 128ull, 129ull, 20000ull,
                            20311ull, 1000000ull, (1ull << 27) - 1}) {
        const int nBin = CResponseTimes::BinOf(q);
        SCOPED_TRACE(q);
        EXPECT_GE(nBin, nLast);
        EXPECT_LT(nBin, CResponseTimes::BIN_COUNT);
        nLast = nBin;
        const std::uint64_t qTop = CResponseTimes::BinTop(nBin);
        EXPECT_GE(qTop, q);
        EXPECT_LE(qTop - q, q / 64);  // a bin is 1/64 of its octave at most
        EXPECT_EQ(CResponseTimes::BinOf(qTop), nBin);
        if (nBin + 1 < CResponseTimes::BIN_COUNT) {
            EXPECT_EQ(CResponseTimes::BinOf(qTop + 1), nBin + 1);
        }
    }
    EXPECT_EQ(CResponseTimes::BinOf(1ull << 40), CResponseTimes::BIN_COUNT - 1);
}

TEST(ResponseTimes, SummaryOfKnownTimes) {
    CResponseTimes times;
    EXPECT_EQ(times.Line(), "Read -  Time-outs 0");
    // 1 .. 1000 µs: p99 is 990 µs to within its bin, the rest exact.
    for (std::uint64_t q = 1000; q >= 1; --q) {
        times.AddMicros(q);
    }
    EXPECT_EQ(times.Count(), 1000u);
    EXPECT_EQ(times.Min(), 1u);
    EXPECT_EQ(times.Max(), 1000u);
    EXPECT_EQ(times.Last(), 1u);
    EXPECT_DOUBLE_EQ(times.Mean(), 500.5);
    EXPECT_GE(times.Percentile(99), 990u);
    EXPECT_LE(times.Percentile(99), 990u + 990u / 64);
    EXPECT_EQ(times.Percentile(100), 1000u);  // clamped to the maximum
    EXPECT_EQ(times.Line(),
              "Read 0.001 ms  min 0.001 / mean 0.500 / max 1.000 / p99 0.991 ms  Time-outs 0");

    // One slow read among many: p99 stays with the many, the max moves.
    CResponseTimes mixed;
    for (int i = 0; i < 200; ++i) {
        mixed.AddMicros(20000);
    }
    mixed.AddMicros(5000000);
    EXPECT_GE(mixed.Percentile(99), 20000u);
    EXPECT_LE(mixed.Percentile(99), 20000u + 20000u / 64);
    EXPECT_EQ(mixed.Max(), 5000000u);
}

TEST(ResponseTimes, TimeOutsAreCountedApartAndReadsOfNothingLeftOut) {
    CResponseTimes times;
    CReadResult r;
    r.qwMicros = 777;
    times.Add(r);  // bRead FALSE: no connection
    EXPECT_EQ(times.Count() + times.Timeouts(), 0u);
    r.bRead = TRUE;
    times.Add(r);
    r.bTimedOut = TRUE;
    r.qwMicros = 3000000;
    times.Add(r);
    times.Add(r);
    EXPECT_EQ(times.Count(), 1u);
    EXPECT_EQ(times.Timeouts(), 2u);
    EXPECT_EQ(times.Max(), 777u);
    EXPECT_EQ(times.Line(),
              "Read time-out  min 0.777 / mean 0.777 / max 0.777 / p99 0.777 ms  Time-outs 2");
    times.Reset();
    EXPECT_EQ(times.Line(), "Read -  Time-outs 0");
}
}  // namespace
