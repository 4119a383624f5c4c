// The trend chart's bucketed history against plain lists of the same samples.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "testview/TrendHistory.h"
#include "testview/ValueLog.h"

namespace {
constexpr std::int64_t T0 = 1796652541000;  // 2026-12-07 14:09:01 UTC

CTrendKey Key() {
    return {"127.0.0.1:1502", "1", READ_OUTPUT_REGISTERS, TYPE_SIGNED_16, 100, 2};
}

// Registers 100 and 101 as signed 16-bit values, or a failed read.
CTrendSample Sample(std::int64_t nMillis, std::optional<std::int16_t> value,
                    CTrendKey key = Key()) {
    CTrendSample s;
    s.nMillis = nMillis;
    s.key = std::move(key);
    s.bFailed = !value;
    s.strStatus = value ? "No Error" : "Timeout";
    s.qwMicros = 1500;
    if (value) {
        s.values = {{100, ValueKind::Int16, std::uint16_t(*value)},
                    {101, ValueKind::Int16, std::uint16_t(-*value)}};
    }
    return s;
}

// Every point of every run, flattened, with the index of the run it is in.
struct CFlatPoint {
    std::int64_t nMillis;
    double dMin, dMax, dLast;
    size_t nRun;
    bool operator==(const CFlatPoint&) const = default;
};
std::vector<CFlatPoint> Flat(const std::vector<CTrendRun>& runs) {
    std::vector<CFlatPoint> points;
    for (size_t r = 0; r < runs.size(); ++r) {
        for (const CTrendPoint& p : runs[r]) {
            points.push_back({p.nMillis, p.dMin, p.dMax, p.dLast, r});
        }
    }
    return points;
}

struct CRandomCase {
    const char* pszName;
    std::int64_t nIntervalMillis;  // mean spacing of the reads
    int nSamples;
    double dFailure;  // chance of a failed read
    unsigned nSeed;
};

class TrendRandom : public ::testing::TestWithParam<CRandomCase> {};

// Each level's buckets hold the min, max and last of exactly the samples in
// their time, and a failed read parts the line where it fell: checked against
// the samples kept in a plain list, for every bucket each level still holds.
TEST_P(TrendRandom, BucketsMatchPlainList) {
    const CRandomCase& c = GetParam();
    std::mt19937 random(c.nSeed);
    std::uniform_int_distribution<int> value(-30000, 30000);
    std::uniform_int_distribution<std::int64_t> spacing(0, 2 * c.nIntervalMillis);
    std::bernoulli_distribution failure(c.dFailure);
    struct CPlain {
        std::int64_t nMillis;
        std::optional<std::int16_t> value;
    };
    std::vector<CPlain> plain;
    CTrendHistory history;
    std::int64_t t = T0;
    for (int i = 0; i < c.nSamples; ++i) {
        t += spacing(random);
        std::optional<std::int16_t> v;
        if (!failure(random)) {
            v = std::int16_t(value(random));
        }
        plain.push_back({t, v});
        history.Add(Sample(t, v));
    }
    ASSERT_EQ(history.TraceCount(), 2u);
    for (int nLevel = 0; nLevel < CTrendHistory::LEVELS; ++nLevel) {
        const std::int64_t nLength = CTrendHistory::BucketMillis(nLevel);
        const std::int64_t nFirst = t / nLength - CTrendHistory::BUCKETS + 1;
        // Per bucket number from the list: the values, and whether a read failed.
        std::map<std::int64_t, std::vector<double>> values;
        std::map<std::int64_t, bool> failed;
        for (const CPlain& p : plain) {
            if (p.nMillis / nLength < nFirst) {
                continue;
            }
            if (p.value) {
                values[p.nMillis / nLength].push_back(*p.value);
            } else {
                failed[p.nMillis / nLength] = true;
            }
        }
        std::vector<CFlatPoint> expected;
        size_t nRun = 0;
        std::int64_t nPrevious = nFirst - 1;
        for (const auto& [n, v] : values) {
            const bool bParted = failed.lower_bound(nPrevious + 1) != failed.upper_bound(n);
            if (!expected.empty() && bParted) {
                ++nRun;
            }
            expected.push_back({n * nLength, *std::min_element(v.begin(), v.end()),
                                *std::max_element(v.begin(), v.end()), v.back(), nRun});
            nPrevious = n;
        }
        EXPECT_EQ(Flat(history.Runs(0, nLevel, 0, t + 1)), expected) << "level " << nLevel;
        // The second row is the negated first: its min is the first's max.
        const auto second = Flat(history.Runs(1, nLevel, 0, t + 1));
        ASSERT_EQ(second.size(), expected.size());
        for (size_t i = 0; i < second.size(); ++i) {
            EXPECT_EQ(second[i].dMin, -expected[i].dMax);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeded, TrendRandom,
                         ::testing::Values(CRandomCase{"Reads100PerSecond", 10, 20000, 0.02, 1},
                                           CRandomCase{"ReadsEverySecond", 1000, 5000, 0.05, 2},
                                           CRandomCase{"BurstsAndFailures", 3, 30000, 0.3, 3},
                                           CRandomCase{"SlowerThanTheRings", 60000, 3000, 0.1, 4}),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(TrendHistory, FailedReadsAreGapsNotZeros) {
    CTrendHistory history;
    history.Add(Sample(T0, 5));
    history.Add(Sample(T0 + 1000, std::nullopt));
    history.Add(Sample(T0 + 2000, std::nullopt));
    history.Add(Sample(T0 + 3000, 7));
    for (int nLevel : {0, 3}) {
        const auto runs = history.Runs(0, nLevel, T0 - 1000, T0 + 4000);
        ASSERT_EQ(runs.size(), 2u) << nLevel;
        EXPECT_EQ(runs[0].back().dMin, 5);
        EXPECT_EQ(runs[1].front().dMin, 7);
    }
    // The cursor finds no value after a failure, the last value before it.
    EXPECT_EQ(history.ValueAt(0, 0, T0 + 500), 5.0);
    EXPECT_EQ(history.ValueAt(0, 0, T0 + 1500), std::nullopt);
    EXPECT_EQ(history.ValueAt(0, 0, T0 + 3500), 7.0);
    // A history whose first reads fail has traces from the first good one.
    CTrendHistory late;
    late.Add(Sample(T0, std::nullopt));
    EXPECT_EQ(late.TraceCount(), 0u);
    late.Add(Sample(T0 + 100, 9));
    ASSERT_EQ(late.TraceCount(), 2u);
    EXPECT_EQ(late.TraceLastText(0), "[100]=9 0x9");
    EXPECT_EQ(late.TraceLastText(1), "[101]=-9 0xfff7");
}

struct CKeyChange {
    const char* pszName;
    void (*change)(CTrendKey&);
    bool bNewTraces;
};

class TrendReset : public ::testing::TestWithParam<CKeyChange> {};

// Other read settings start new traces: nothing read before shows in them;
// the same settings keep adding to the old ones.
TEST_P(TrendReset, OtherSettingsStartNewTraces) {
    CTrendHistory history;
    history.ChooseRows({1});
    history.Add(Sample(T0, 5));
    history.Add(Sample(T0 + 1000, 6));
    CTrendKey key = Key();
    GetParam().change(key);
    history.Add(Sample(T0 + 2000, 8, key));
    ASSERT_EQ(history.TraceCount(), 1u);
    EXPECT_EQ(history.TraceRow(0), 1);  // the choice of rows stays
    const auto runs = history.Runs(0, 0, 0, T0 + 3000);
    const size_t nExpected = GetParam().bNewTraces ? 1 : 3;
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].size(), nExpected);
    EXPECT_EQ(runs[0].back().dLast, -8);
    EXPECT_EQ(history.OldestMillis(), GetParam().bNewTraces ? T0 + 2000 : T0);
    EXPECT_EQ(history.LogLines(0, 0, T0 + 3000).size(), nExpected + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TrendReset,
    ::testing::Values(
        CKeyChange{"Same", [](CTrendKey&) {}, false},
        CKeyChange{"Address", [](CTrendKey& k) { k.nAddress = 101; }, true},
        CKeyChange{"Quantity", [](CTrendKey& k) { k.nQuantity = 3; }, true},
        CKeyChange{"Function", [](CTrendKey& k) { k.nReadFunction = READ_INPUT_REGISTERS; }, true},
        CKeyChange{"Type", [](CTrendKey& k) { k.nDataType = TYPE_UNSIGNED_16; }, true},
        CKeyChange{"Device", [](CTrendKey& k) { k.strDevice = "2"; }, true},
        CKeyChange{"Connection", [](CTrendKey& k) { k.strConnection = "127.0.0.1:1503"; }, true}),
    [](const auto& info) { return std::string(info.param.pszName); });

// The chart's CSV is the value log's: its header, and per bucket a line as
// the log would have written for the bucket's last read.
TEST(TrendHistory, LogLinesAreTheValueLogs) {
    CTrendHistory history;
    history.Add(Sample(T0, 5));
    history.Add(Sample(T0 + 1000, std::nullopt));
    history.Add(Sample(T0 + 2000, -3));
    const auto lines = history.LogLines(0, T0, T0 + 2010);
    const CString strFunction = g_szReadFunctions[READ_OUTPUT_REGISTERS];
    EXPECT_EQ(lines,
              (std::vector<CString>{
                  g_szLogHeader,
                  FormatLogLine(T0, "127.0.0.1:1502", "1", strFunction, "No Error", 1500,
                                {"[100]=5 0x5", "[101]=-5 0xfffb"}),
                  FormatLogLine(T0 + 1000, "127.0.0.1:1502", "1", strFunction, "Timeout", 1500, {}),
                  FormatLogLine(T0 + 2000, "127.0.0.1:1502", "1", strFunction, "No Error", 1500,
                                {"[100]=-3 0xfffd", "[101]=3 0x3"}),
              }));
}

// Memory after a simulated hour at 100 reads a second of 16 traces, and its
// growth over the second half hour carried on to 24 hours, stay under 64 MB.
TEST(TrendHistory, DayOfSixteenTracesStaysUnder64MB) {
    CTrendHistory history;
    CTrendSample sample = Sample(T0, 0);
    sample.key.nQuantity = 16;
    sample.values.resize(16);
    size_t nHalfHour = 0;
    constexpr int READS_PER_HOUR = 100 * 3600;
    for (int i = 0; i < READS_PER_HOUR; ++i) {
        sample.nMillis = T0 + std::int64_t(i) * 10;
        for (unsigned r = 0; r < 16; ++r) {
            sample.values[r] = {r, ValueKind::Uint16, std::uint64_t((i + r * 97) % 65536)};
        }
        history.Add(sample);
        if (i == READS_PER_HOUR / 2) {
            nHalfHour = history.MemoryBytes();
        }
    }
    ASSERT_EQ(history.TraceCount(), 16u);
    const size_t nHour = history.MemoryBytes();
    const double dDay = double(nHour) + 46.0 * double(nHour - nHalfHour);
    std::printf("trend history: %zu bytes after 1 h, %.0f extrapolated to 24 h\n", nHour, dDay);
    EXPECT_LT(dDay, 64e6);
    // Every value of the last 20 s is still told apart on the finest level.
    const auto runs = history.Runs(5, 0, T0 + 3580000, T0 + 3600000);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].size(), 2000u);
}
}  // namespace
