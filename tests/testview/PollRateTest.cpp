// The real poll rate: cycles per second over the last five seconds, from
// completion times, whatever the reads' own durations.
#include <gtest/gtest.h>

#include <vector>

#include "testview/PollRate.h"

namespace {
using namespace std::chrono;

struct RateCase {
    const char* pszName;
    // Completion times in milliseconds, in order.
    std::vector<long> times;
    double dRate;
    const char* pszText;
};
void PrintTo(const RateCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

std::vector<long> Every(long nFrom, long nTo, long nStep) {
    std::vector<long> times;
    for (long t = nFrom; t <= nTo; t += nStep) {
        times.push_back(t);
    }
    return times;
}

std::vector<long> Join(std::vector<long> a, const std::vector<long>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class PollRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(PollRate, CountsCompletedCyclesOverTheLastSeconds) {
    CPollRate rate;
    const CPollRate::Clock::time_point t0{seconds(1000)};
    for (long t : GetParam().times) {
        rate.Add(t0 + milliseconds(t));
    }
    EXPECT_NEAR(rate.PerSecond(), GetParam().dRate, 1e-9);
    EXPECT_EQ(rate.Text(), GetParam().pszText);
}

INSTANTIATE_TEST_SUITE_P(
    Cycles, PollRate,
    ::testing::Values(
        RateCase{"NoneYet", {}, 0.0, ""}, RateCase{"OneCycle", {0}, 0.0, ""},
        RateCase{"OncePerSecond", Every(0, 9000, 1000), 1.0, "  1.00 polls/s"},
        // A 2 ms read at interval 1000 is still about one poll a second.
        RateCase{"IntervalAndRead", Every(0, 20400, 1020), 1 / 1.02, "  0.98 polls/s"},
        RateCase{"Early", {0, 250, 500}, 4.0, "  4.00 polls/s"},
        // Ten a second for the last six seconds: the slow start is gone.
        RateCase{"FasterNow", Join(Every(0, 10000, 1000), Every(10100, 16000, 100)), 10.0,
                 "  10.00 polls/s"},
        // A three-second stall (a time-out) within the window pulls it down.
        RateCase{"Stalled", Join(Every(0, 2000, 100), {5000}), 21 / 5.0, "  4.20 polls/s"},
        // Slower than the window is wide: the interval to the one before.
        RateCase{"SlowerThanTheWindow", {0, 10000, 20000}, 0.1, "  0.10 polls/s"}),
    [](const ::testing::TestParamInfo<RateCase>& info) { return info.param.pszName; });

TEST(PollRateLimit, KeepsTheNewestAtVeryHighRatesAndStartsAgainOnReset) {
    CPollRate rate;
    const CPollRate::Clock::time_point t0{seconds(1000)};
    // 100 000 a second for two seconds: more than it keeps.
    for (long i = 0; i <= 200000; ++i) {
        rate.Add(t0 + microseconds(10 * i));
    }
    EXPECT_NEAR(rate.PerSecond(), 100000.0, 1e-3);
    rate.Reset();
    EXPECT_EQ(rate.Text(), "");
}
}  // namespace
