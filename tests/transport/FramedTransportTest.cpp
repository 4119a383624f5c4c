// The masters that replace the Modbus/TCP framing, against peers played by
// hand: RTU frames over a TCP connection, and Modbus/TCP frames in datagrams.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include "tests/support/PeerSocket.h"
#include "tests/support/Timing.h"
#include "transport/RtuOverTcpModbus.h"
#include "transport/UdpModbus.h"
#include "wire/RtuFrame.h"

namespace {
using Clock = std::chrono::steady_clock;

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
        EXPECT_EQ(ReadBytes(peer, 8), (CByteArray{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}));
        for (size_t i = 0; i < answer.size(); i += nChunk) {
            if (i > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
            WriteBytes(peer, CByteArray(answer.begin() + i,
                                        answer.begin() + std::min(i + nChunk, answer.size())));
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

// An answer that stops after nSent bytes (none: a silent device) ends the
// exchange by its time-out; the rest comes late, before the next request.
class RtuOverTcpLate : public testing::TestWithParam<std::tuple<size_t, WORD>> {};

TEST_P(RtuOverTcpLate, NextAnswerOnTheSameConnectionIsTheGoodOne) {
    const auto [nSent, wStatus] = GetParam();
    RtuLink link(300);
    const CByteArray whole = Rtu({0x01, 0x03, 0x04, 0x00, 0x07, 0x00, 0x08});
    CWordArray regs(2, 0xAAAA);
    EXPECT_EQ(link.ReadTwo(CByteArray(whole.begin(), whole.begin() + nSent), 64, regs), wStatus);
    EXPECT_EQ(regs[0], 0);
    EXPECT_TRUE(link.master.IsConnected());
    WriteBytes(link.peer, CByteArray(whole.begin() + nSent, whole.end()));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CWordArray next(2);
    EXPECT_EQ(link.ReadTwo(Rtu({0x01, 0x03, 0x04, 0x00, 0x2A, 0x00, 0x2B}), 64, next), 0);
    EXPECT_EQ(next[0], 42);
    EXPECT_EQ(next[1], 43);
}

INSTANTIATE_TEST_SUITE_P(Answers, RtuOverTcpLate,
                         testing::Values(std::make_tuple(size_t(5), WORD(MODBUS_CRC_ERROR)),
                                         std::make_tuple(size_t(0), WORD(REMOTE_SOCKET_ERROR))));

// ---- Modbus/UDP ----

// A datagram socket on 127.0.0.1 at a port the system picks.
class CUdpPeer {
public:
    CUdpPeer() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
            throw std::runtime_error("udp bind failed");
        }
        m_nPort = ntohs(sa.sin_port);
    }
    ~CUdpPeer() { ::close(m_fd); }
    CUdpPeer(const CUdpPeer&) = delete;
    CUdpPeer& operator=(const CUdpPeer&) = delete;

    WORD Port() const { return m_nPort; }
    // The next datagram within nMillis (empty when none); its sender becomes
    // the one SendTo answers.
    CByteArray Receive(int nMillis = 2000) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, nMillis) != 1) {
            return {};
        }
        CByteArray got(1024);
        socklen_t len = sizeof m_from;
        const ssize_t n =
            ::recvfrom(m_fd, got.data(), got.size(), 0, reinterpret_cast<sockaddr*>(&m_from), &len);
        got.resize(n > 0 ? size_t(n) : 0);
        return got;
    }
    void SendTo(const sockaddr_in& to, const CByteArray& bytes) {
        ASSERT_EQ(::sendto(m_fd, bytes.data(), bytes.size(), 0,
                           reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  ssize_t(bytes.size()));
    }
    void Reply(const CByteArray& bytes) { SendTo(m_from, bytes); }
    const sockaddr_in& From() const { return m_from; }

private:
    int m_fd;
    WORD m_nPort = 0;
    sockaddr_in m_from{};
};

// The answer to request with one register of value w.
CByteArray OneRegister(const CByteArray& request, WORD w) {
    return {request[0], request[1], 0, 0, 0, 5, request[6], request[7], 2, HIBYTE(w), LOBYTE(w)};
}

struct UdpLink {
    CUdpPeer peer;
    CUdpModbus master;

    explicit UdpLink(DWORD dwTimeout) {
        EXPECT_TRUE(master.Connect("127.0.0.1", peer.Port(), dwTimeout));
    }
    // Reads holding register 0 of unit 1 while serve plays the device.
    WORD ReadOne(WORD& wValue, const std::function<void()>& serve) {
        CWordArray regs(1, 0xAAAA);
        WORD wStatus = 0xFFFF;
        std::thread client([&] { wStatus = master.ReadOutputRegisters(1, 0, 1, regs); });
        serve();
        client.join();
        wValue = regs[0];
        return wStatus;
    }
};

TEST(Udp, LateAnswerIsNeverTakenForTheNextRequest) {
    UdpLink link(200);
    CByteArray first;
    WORD w = 0;
    EXPECT_EQ(link.ReadOne(w, [&] { first = link.peer.Receive(); }), REMOTE_SOCKET_ERROR);
    ASSERT_EQ(first.size(), 12u);
    EXPECT_EQ(link.master.GetLastCause(),
              "127.0.0.1:" + std::to_string(link.peer.Port()) + ": no answer within 200 ms");
    // The socket survives the missing answer.
    EXPECT_TRUE(link.master.IsConnected());

    CByteArray second;
    EXPECT_EQ(link.ReadOne(w,
                           [&] {
                               second = link.peer.Receive();
                               link.peer.Reply(OneRegister(first, 111));  // late, for the first
                               link.peer.Reply(OneRegister(second, 222));
                           }),
              0);
    EXPECT_EQ(w, 222);
    ASSERT_EQ(second.size(), 12u);
    EXPECT_NE(MAKEWORD(second[1], second[0]), MAKEWORD(first[1], first[0]));
    EXPECT_EQ(CByteArray(second.begin() + 2, second.end()),
              (CByteArray{0, 0, 0, 6, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
}

// Datagrams that do not answer the request outstanding, each followed by the
// one that does.
struct SStray {
    const char* pszName;
    std::function<void(CByteArray&)> spoil;
    bool bOtherPort;
};

class UdpStray : public testing::TestWithParam<SStray> {};

TEST_P(UdpStray, IsDroppedAndTheWaitGoesOn) {
    const SStray& c = GetParam();
    UdpLink link(1000);
    CUdpPeer other;
    WORD w = 0;
    EXPECT_EQ(link.ReadOne(w,
                           [&] {
                               const CByteArray request = link.peer.Receive();
                               CByteArray stray = OneRegister(request, 666);
                               c.spoil(stray);
                               if (c.bOtherPort) {
                                   other.SendTo(link.peer.From(), stray);
                               } else {
                                   link.peer.Reply(stray);
                               }
                               std::this_thread::sleep_for(std::chrono::milliseconds(30));
                               link.peer.Reply(OneRegister(request, 333));
                           }),
              0);
    EXPECT_EQ(w, 333);
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, UdpStray,
    testing::Values(SStray{"OtherPort", [](CByteArray&) {}, true},
                    SStray{"TransactionId", [](CByteArray& d) { d[1] ^= 0x40; }, false},
                    SStray{"Unit", [](CByteArray& d) { d[6] = 2; }, false},
                    SStray{"Function", [](CByteArray& d) { d[7] = 4; }, false},
                    SStray{"ProtocolId", [](CByteArray& d) { d[3] = 1; }, false},
                    SStray{"Empty", [](CByteArray& d) { d.clear(); }, false},
                    SStray{"HeaderOnly", [](CByteArray& d) { d.resize(7); }, false}),
    [](const testing::TestParamInfo<SStray>& info) { return std::string(info.param.pszName); });

TEST(Udp, RetriesResendWithANewTransactionIdAndTakeExceptions) {
    UdpLink link(150);
    link.master.m_nTries = 2;
    CByteArray tries[2];
    WORD w = 0;
    EXPECT_EQ(link.ReadOne(w,
                           [&] {
                               tries[0] = link.peer.Receive();
                               tries[1] = link.peer.Receive();
                               CByteArray answer{tries[1][0], tries[1][1], 0, 0, 0, 3, 1, 0x83, 2};
                               link.peer.Reply(answer);
                           }),
              0x8002);
    ASSERT_EQ(tries[1].size(), 12u);
    EXPECT_EQ(MAKEWORD(tries[1][1], tries[1][0]), WORD(MAKEWORD(tries[0][1], tries[0][0]) + 1));
    EXPECT_EQ(link.master.GetTransactionId(), MAKEWORD(tries[1][1], tries[1][0]));
}

TEST(Udp, NobodyListeningIsReportedAtOnceAndTheSocketServesOn) {
    WORD nClosed = 0;
    {
        CUdpPeer gone;
        nClosed = gone.Port();
    }
    CUdpModbus master;
    ASSERT_TRUE(master.Connect("127.0.0.1", nClosed, 2000));
    CWordArray regs(1);
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(master.ReadOutputRegisters(1, 0, 1, regs), REMOTE_SOCKET_ERROR) << i;
        EXPECT_LT(MillisSince(start), 1000);
        EXPECT_FALSE(master.LastExchangeTimedOut());
        EXPECT_EQ(master.GetLastCause(),
                  "127.0.0.1:" + std::to_string(nClosed) + ": connection refused");
        EXPECT_TRUE(master.IsConnected());
    }
}

}  // namespace
