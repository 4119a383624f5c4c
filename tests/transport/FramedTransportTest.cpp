// The masters that replace the Modbus/TCP framing, against peers played by
// hand: RTU frames over a TCP connection, and Modbus/TCP frames in datagrams.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "tests/support/PeerSocket.h"
#include "transport/RtuOverTcpModbus.h"
#include "wire/RtuFrame.h"

namespace {
using Clock = std::chrono::steady_clock;

long long MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Up to n bytes from fd within nMillis; fewer when the time runs out.
CByteArray ReadSome(int fd, size_t n, int nMillis = 2000) {
    CByteArray got;
    const auto end = Clock::now() + std::chrono::milliseconds(nMillis);
    while (got.size() < n && Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) != 1) {
            continue;
        }
        BYTE buf[512];
        const ssize_t r = ::recv(fd, buf, std::min(sizeof buf, n - got.size()), 0);
        if (r <= 0) {
            break;
        }
        got.insert(got.end(), buf, buf + r);
    }
    return got;
}

void WriteAll(int fd, const BYTE* pb, size_t n) {
    ASSERT_EQ(::send(fd, pb, n, MSG_NOSIGNAL), ssize_t(n));
}

CByteArray Rtu(const CByteArray& adu) {
    return CRtuFrame::Encode(adu.data(), adu.size());
}

// ---- RTU frames over TCP ----

struct RtuLink {
    CListener listener;
    CRtuOverTcpModbus master;
    int peer = -1;

    explicit RtuLink(DWORD dwTimeout = 1000) {
        EXPECT_TRUE(master.Connect("127.0.0.1", listener.Port(), dwTimeout));
        peer = listener.Accept();
        EXPECT_GE(peer, 0);
    }
    ~RtuLink() { ::close(peer); }

    // Reads two holding registers from address 0 while the peer answers the
    // request (checked byte for byte) with answer, nChunk bytes at a time.
    WORD ReadTwo(const CByteArray& answer, size_t nChunk, CWordArray& regs) {
        WORD wStatus = 0xFFFF;
        std::thread client([&] { wStatus = master.ReadOutputRegisters(1, 0, 2, regs); });
        EXPECT_EQ(ReadSome(peer, 8), Rtu({0x01, 0x03, 0x00, 0x00, 0x00, 0x02}));
        for (size_t i = 0; i < answer.size(); i += nChunk) {
            if (i > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
            WriteAll(peer, answer.data() + i, std::min(nChunk, answer.size() - i));
        }
        client.join();
        return wStatus;
    }
};

struct SRtuAnswer {
    const char* pszName;
    CByteArray answer;
    size_t nChunk;
    WORD wStatus;
    WORD wFirst;  // the first register read, when the status is 0
};

class RtuOverTcpAnswer : public testing::TestWithParam<SRtuAnswer> {};

TEST_P(RtuOverTcpAnswer, EndsByTheFunctionsLengthAndChecksTheCrc) {
    const SRtuAnswer& c = GetParam();
    RtuLink link(1000);
    CWordArray regs(2, 0xAAAA);
    const auto start = Clock::now();
    EXPECT_EQ(link.ReadTwo(c.answer, c.nChunk, regs), c.wStatus);
    // Never by waiting for the time-out, whatever the answer.
    EXPECT_LT(MillisSince(start), 600);
    EXPECT_EQ(regs[0], c.wStatus == 0 ? c.wFirst : 0);
    EXPECT_TRUE(link.master.IsConnected());

    // The connection serves the next exchange with nothing of this one.
    CWordArray next(2);
    EXPECT_EQ(link.ReadTwo(Rtu({0x01, 0x03, 0x04, 0x12, 0x34, 0x56, 0x78}), 64, next), 0);
    EXPECT_EQ(next[0], 0x1234);
    EXPECT_EQ(next[1], 0x5678);
}

CByteArray WithBadCrc(CByteArray frame) {
    frame.back() ^= 0x01;
    return frame;
}

CByteArray Then(CByteArray first, const CByteArray& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RtuOverTcpAnswer,
    testing::Values(
        SRtuAnswer{"Whole", Rtu({0x01, 0x03, 0x04, 0x00, 0x07, 0x00, 0x08}), 64, 0, 7},
        SRtuAnswer{"ByteByByte", Rtu({0x01, 0x03, 0x04, 0x00, 0x07, 0x00, 0x08}), 1, 0, 7},
        SRtuAnswer{"Exception", Rtu({0x01, 0x83, 0x02}), 1, 0x8002, 0},
        SRtuAnswer{"CrcError", WithBadCrc(Rtu({0x01, 0x03, 0x04, 0x00, 0x07, 0x00, 0x08})), 64,
                   MODBUS_CRC_ERROR, 0},
        // A byte count that claims less than was sent: the rest, CRC and all,
        // is junk in the stream and must go before the next request.
        SRtuAnswer{"ShortByteCount", Rtu({0x01, 0x03, 0x02, 0x00, 0x07, 0x00, 0x08}), 64,
                   MODBUS_CRC_ERROR, 0},
        // An answer and junk behind it in the same segment.
        SRtuAnswer{"Surplus", Then(Rtu({0x01, 0x03, 0x04, 0x00, 0x09, 0x00, 0x08}), {0xEE, 0xEE}),
                   64, 0, 9},
        // A function without length rules ends with the pause after it.
        SRtuAnswer{"UnknownFunction", Rtu({0x01, 0x2B, 0x0E, 0x01, 0x02}), 2,
                   MODBUS_INVALID_RESPONSE, 0}),
    [](const testing::TestParamInfo<SRtuAnswer>& info) { return std::string(info.param.pszName); });

TEST(RtuOverTcp, CutAnswerThenAGoodOneOnTheSameConnection) {
    RtuLink link(300);
    const CByteArray whole = Rtu({0x01, 0x03, 0x04, 0x00, 0x07, 0x00, 0x08});
    CWordArray regs(2, 0xAAAA);
    // The answer stops after five bytes; the time-out ends the exchange.
    EXPECT_EQ(link.ReadTwo(CByteArray(whole.begin(), whole.begin() + 5), 64, regs),
              MODBUS_CRC_ERROR);
    EXPECT_EQ(regs[0], 0);
    EXPECT_TRUE(link.master.IsConnected());
    // Its rest arrives late, before the next request.
    WriteAll(link.peer, whole.data() + 5, whole.size() - 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CWordArray next(2);
    EXPECT_EQ(link.ReadTwo(Rtu({0x01, 0x03, 0x04, 0x00, 0x2A, 0x00, 0x2B}), 64, next), 0);
    EXPECT_EQ(next[0], 42);
    EXPECT_EQ(next[1], 43);
}

}  // namespace
