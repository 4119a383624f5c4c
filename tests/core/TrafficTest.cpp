#include "core/Traffic.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace {
using testing::HasSubstr;

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

TEST(Traffic, LinesShowBothDirectionsInHexWithStatusTimeAndMeaning) {
    CTrafficExchange e;
    e.tSent = std::chrono::system_clock::time_point(std::chrono::milliseconds(1250));
    e.strTransport = "tcp 127.0.0.1:502";
    e.request = {0, 0, 0, 0, 0, 6, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    e.answer = {0, 0, 0, 0, 0, 5, 0x01, 0x03, 0x02, 0x00, 0x2A};
    e.strStatus = "Ok";
    e.dMillis = 1.8434;
    std::vector<std::string> lines = Traffic::FormatLines(e, "plc");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(8),
              ".250  plc  >  00 00 00 00 00 06 01 03 00 00 00 01  unit 1: read holding "
              "registers, address 0, quantity 1");
    EXPECT_EQ(lines[1].substr(8),
              ".251  plc  <  00 00 00 00 00 05 01 03 02 00 2A  Ok  1.843 ms  unit 1: read holding "
              "registers: 42");
    // Never sent (no connection): the request as handed over, no answer.
    e.request.erase(e.request.begin(), e.request.begin() + 6);
    e.answer.clear();
    e.strStatus = "Socket not connected";
    lines = Traffic::FormatLines(e, "plc");
    EXPECT_THAT(lines[0],
                HasSubstr(">  01 03 00 00 00 01  unit 1: read holding registers, address 0"));
    EXPECT_THAT(lines[1], HasSubstr("<  (nothing)  Socket not connected  1.843 ms"));
    EXPECT_EQ(lines[1].back(), 's') << lines[1];
    // The other masters on host and port: a datagram frames as Modbus/TCP
    // does, RTU frames end with a CRC unless they were never sent.
    e.strTransport = "udp 127.0.0.1:502";
    e.request = {0, 7, 0, 0, 0, 6, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    EXPECT_THAT(Traffic::FormatLines(e, "plc")[0],
                HasSubstr("  unit 1: read holding registers, address 0"));
    e.strTransport = "rtu-over-tcp 127.0.0.1:502";
    e.request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    e.answer = {0x01, 0x03, 0x02, 0x00, 0x2A, 0x39, 0x9B};
    lines = Traffic::FormatLines(e, "plc");
    EXPECT_THAT(lines[0],
                HasSubstr("84 0A  unit 1: read holding registers, address 0, quantity 1"));
    EXPECT_THAT(lines[1], HasSubstr("39 9B  Socket not connected  1.843 ms  unit 1: read holding "
                                    "registers: 42"));
    e.request.resize(6);
    e.answer.clear();
    EXPECT_THAT(Traffic::FormatLines(e, "plc")[0],
                HasSubstr("00 01  unit 1: read holding registers"));
    // The serial server's exception comes as a status: named, and decoded.
    e.strTransport = "serial COM1";
    e.wStatus = 0x8002;
    e.strStatus = "Modbus device return an exception code 2";
    EXPECT_THAT(
        Traffic::FormatLines(e, "plc")[1],
        HasSubstr("<  (nothing)  Modbus device return an exception code 2 (illegal data address)  "
                  "1.843 ms  unit 1: read holding registers, exception 2 (illegal data address)"));
}

}  // namespace
