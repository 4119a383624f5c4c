#include "core/Traffic.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

CTrafficExchange Exchange(BYTE byTag) {
    CTrafficExchange e;
    e.request = {byTag};
    return e;
}

TEST(TrafficRing, KeepsTheLastExchangesInOrderAndCountsWhatFellOut) {
    CTrafficRing ring(3);
    for (BYTE b = 1; b <= 5; ++b) {
        ring.OnExchange(Exchange(b));
    }
    EXPECT_EQ(ring.Size(), 3u);
    EXPECT_EQ(ring.Dropped(), 2u);
    std::vector<CTrafficExchange> all = ring.Since(0);
    ASSERT_EQ(all.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(all[i].nSequence, 3 + i);
        EXPECT_EQ(all[i].request, CByteArray{BYTE(3 + i)});
    }
    // A reader that has seen up to 4 gets only 5; one that has seen all, nothing.
    ASSERT_EQ(ring.Since(4).size(), 1u);
    EXPECT_EQ(ring.Since(4)[0].nSequence, 5u);
    EXPECT_TRUE(ring.Since(5).empty());
    EXPECT_TRUE(ring.Since(99).empty());
    ring.Clear();
    EXPECT_EQ(ring.Size(), 0u);
    ring.OnExchange(Exchange(6));
    EXPECT_EQ(ring.Since(5).size(), 1u);  // numbering goes on after a clear
}

TEST(TrafficRing, ManyWritersNeverGrowItPastItsCapacity) {
    CTrafficRing ring(1000);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                ring.OnExchange(Exchange(BYTE(i)));
            }
        });
    }
    size_t nMax = 0;
    for (int i = 0; i < 200; ++i) {
        nMax = std::max(nMax, ring.Since(0).size());
    }
    for (std::thread& t : writers) {
        t.join();
    }
    EXPECT_LE(nMax, 1000u);
    EXPECT_EQ(ring.Size(), 1000u);
    EXPECT_EQ(ring.Dropped(), 19000u);
    const std::vector<CTrafficExchange> all = ring.Since(0);
    EXPECT_EQ(all.back().nSequence, 20000u);
    EXPECT_EQ(all.front().nSequence, 19001u);
}

TEST(Traffic, LinesShowBothDirectionsInHexWithStatusAndTime) {
    CTrafficExchange e;
    e.tSent = std::chrono::system_clock::time_point(std::chrono::milliseconds(1250));
    e.request = {0x00, 0x01, 0xAB, 0x0F};
    e.answer = {0xFF};
    e.strStatus = "Ok";
    e.dMillis = 1.8434;
    const std::vector<std::string> lines = Traffic::FormatLines(e, "plc");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(8), ".250  plc  >  00 01 AB 0F");
    EXPECT_EQ(lines[1].substr(8), ".251  plc  <  FF  Ok  1.843 ms");
    e.answer.clear();
    e.strStatus = "Time-out";
    EXPECT_NE(Traffic::FormatLines(e, "plc")[1].find("<  (nothing)  Time-out"), std::string::npos);
}

}  // namespace
