// The Modbus/TCP master against a peer played by hand, byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "platform/Archive.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/Serialized.h"
#include "transport/RemoteModbus.h"

namespace {

struct Link {
    CListener listener;
    CRemoteModbus master;
    int peer = -1;

    explicit Link(DWORD dwTimeout = 1000) {
        EXPECT_TRUE(master.Connect("127.0.0.1", listener.Port(), dwTimeout));
        peer = listener.Accept();
        EXPECT_GE(peer, 0);
    }
    ~Link() {
        if (peer >= 0) {
            ::close(peer);
        }
    }
    // Reads regs.size() holding registers from address 0 of unit 1 while
    // the peer takes the request (into *pRequest), sends answer and, with
    // bClose, closes the connection.
    WORD Read(CWordArray& regs, const CByteArray& answer, CByteArray* pRequest = nullptr,
              bool bClose = false) {
        WORD wStatus = 0xFFFF;
        std::thread client(
            [&] { wStatus = master.ReadOutputRegisters(1, 0, WORD(regs.size()), regs); });
        const CByteArray request = ReadBytes(peer, 12);
        WriteBytes(peer, answer);
        if (bClose) {
            ::close(peer);
            peer = -1;
        }
        client.join();
        if (pRequest != nullptr) {
            *pRequest = request;
        }
        return wStatus;
    }
};

TEST(RemoteModbus, UnconnectedUntilConnectedAndAfterDisconnectOrAFailedConnect) {
    CRemoteModbus m;
    CWordArray regs(1);
    EXPECT_FALSE(m.IsConnected());
    EXPECT_EQ(m.LoopbackTest(1), REMOTE_NOT_CONNECTED);
    EXPECT_EQ(m.GetErrorText(REMOTE_NOT_CONNECTED), "Socket not connected");
    EXPECT_EQ(m.GetErrorText(REMOTE_BUFFER_OVERFLOW), "Buffer Overflow");
    EXPECT_EQ(m.GetErrorText(2), "invalid returned device response");  // the base's texts

    // The stored settings serve when none are given.
    CListener listener;
    m.SetHost("127.0.0.1");
    m.SetPort(listener.Port());
    m.SetTimeout(1000);
    EXPECT_TRUE(m.Connect(CString(), 0, 0));
    EXPECT_TRUE(m.IsConnected());
    EXPECT_EQ(m.GetPort(), listener.Port());
    int first = listener.Accept();
    EXPECT_TRUE(m.Disconnect());
    EXPECT_FALSE(m.IsConnected());
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, regs), REMOTE_NOT_CONNECTED);
    ::close(first);

    EXPECT_FALSE(m.Connect("no-such-host.invalid", 502, 500));
    EXPECT_EQ(m.m_socket.m_hSocket, INVALID_SOCKET);
    EXPECT_EQ(m.GetHost(), "no-such-host.invalid");
    EXPECT_EQ(m.GetTimeout(), 500u);
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, regs), REMOTE_NOT_CONNECTED);

    // A connection made for each exchange that is refused was never made.
    WORD nClosed = 0;
    ::close(ListenLoopback(-1, &nClosed));
    m.SetHost("127.0.0.1");
    m.SetPort(nClosed);
    m.SetReconnect(TRUE);
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, regs), REMOTE_NOT_CONNECTED);
    EXPECT_FALSE(m.LastExchangeTimedOut());
    EXPECT_EQ(m.m_socket.m_hSocket, INVALID_SOCKET);
}

TEST(RemoteModbus, WireFormatAndLowLengthByte) {
    Link link;
    CWordArray regs(10);
    // The transaction and protocol identifiers are not examined.
    CByteArray answer{0x12, 0x34, 0x56, 0x78, 0, 23, 0x01, 0x03, 20};
    for (int i = 0; i < 20; ++i) {
        answer.push_back(static_cast<BYTE>(i));
    }
    CByteArray request;
    EXPECT_EQ(link.Read(regs, answer, &request), 0);
    EXPECT_EQ(request, (CByteArray{0, 0, 0, 0, 0, 6, 0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}));
    EXPECT_EQ(regs[0], 0x0001);
    EXPECT_EQ(regs[9], 0x1213);
}

// What a device sends of one answer beyond what the master takes for it, as
// the 16-bit length announces it or as surplus, never passes for the start of
// the next answer on the connection.
struct SLeftover {
    const char* pszWhat;
    WORD wCount;       // registers read
    CByteArray frame;  // the device's whole answer
    WORD wStatus;      // of the read
};

class RemoteModbusLeftover : public testing::TestWithParam<SLeftover> {};

CByteArray AnswerOf(WORD wLength, const CByteArray& pdu, size_t nFill) {
    CByteArray frame(6 + pdu.size() + nFill, 0xEE);
    frame[0] = frame[1] = frame[2] = frame[3] = 0;
    frame[4] = HIBYTE(wLength);
    frame[5] = LOBYTE(wLength);
    std::copy(pdu.begin(), pdu.end(), frame.begin() + 6);
    return frame;
}

TEST_P(RemoteModbusLeftover, NextReadGetsItsOwnAnswer) {
    const SLeftover& c = GetParam();
    Link link;
    CWordArray regs(c.wCount);
    EXPECT_EQ(link.Read(regs, c.frame), c.wStatus);

    CWordArray next(1);
    CByteArray request;
    EXPECT_EQ(link.Read(next, {0, 0, 0, 0, 0, 5, 1, 3, 2, 0, 42}, &request), 0);
    EXPECT_EQ(request.size(), 12u);
    EXPECT_EQ(next[0], 42);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RemoteModbusLeftover,
    testing::Values(
        // 253 registers: 509 bytes announced, of which the low byte takes 253.
        SLeftover{"over 255 bytes", 253, AnswerOf(0x01FD, {1, 3, 0xFA}, 506), 2},
        // A whole answer by its low byte, then the high byte's 256 more.
        SLeftover{"high length byte", 1, AnswerOf(0x0105, {1, 3, 2, 0, 7}, 256), 0},
        SLeftover{"surplus", 1, AnswerOf(5, {1, 3, 2, 0, 7}, 3), 0}),
    [](const testing::TestParamInfo<SLeftover>& info) {
        std::string name = info.param.pszWhat;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST(RemoteModbus, AnnouncedRestThatNeverComesDropsTheConnection) {
    Link link(300);
    CWordArray regs(1);
    // The answer itself is whole; the connection is not, and goes.
    EXPECT_EQ(link.Read(regs, AnswerOf(0x0105, {1, 3, 2, 0, 7}, 0)), 0);
    EXPECT_EQ(regs[0], 7);
    EXPECT_FALSE(link.master.IsConnected());
    EXPECT_EQ(link.master.ReadOutputRegisters(1, 0, 1, regs), REMOTE_NOT_CONNECTED);
}

// A device that closes before its answer is whole leaves nothing to keep.
TEST(RemoteModbus, ADeviceClosingMidAnswerDropsTheConnection) {
    Link link;
    CWordArray regs(2, 7);
    EXPECT_EQ(link.Read(regs, {0, 0, 0, 0, 0, 7, 1, 3, 4, 0}, nullptr, true), REMOTE_READ_ERROR);
    EXPECT_EQ(link.master.GetLastCause(), "127.0.0.1:" + std::to_string(link.listener.Port()) +
                                              ": connection closed by the device");
    EXPECT_FALSE(link.master.IsConnected());
    EXPECT_EQ(link.master.ReadOutputRegisters(1, 0, 1, regs), REMOTE_NOT_CONNECTED);
}

// Every exchange ends within its time-out and a few milliseconds, whether
// the connection is kept or made for it; the kernel's own socket time-outs
// would end long ones up to an eighth late.
class RemoteModbusDeadline : public testing::TestWithParam<std::tuple<DWORD, BOOL>> {};

TEST_P(RemoteModbusDeadline, SilentPeerTimesOutOnTime) {
    const auto [dwTimeout, bReconnect] = GetParam();
    CListener listener;  // accepts in the kernel, never answers
    CRemoteModbus m;
    ASSERT_TRUE(m.Connect("127.0.0.1", listener.Port(), dwTimeout));
    m.SetReconnect(bReconnect);
    CWordArray regs(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, regs), REMOTE_SOCKET_ERROR);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(m.LastExchangeTimedOut());
    const std::string strNoAnswer = "no answer within " + std::to_string(dwTimeout) + " ms";
    EXPECT_EQ(m.GetErrorText(REMOTE_SOCKET_ERROR), "Socket Error: " + strNoAnswer);
    EXPECT_EQ(m.GetLastCause(),
              "127.0.0.1:" + std::to_string(listener.Port()) + ": " + strNoAnswer);
    EXPECT_GE(elapsed, std::chrono::milliseconds(dwTimeout));
    // The kernel's own time-outs overran 2.6 s by 90-260 ms.
    EXPECT_LT(elapsed, std::chrono::milliseconds(dwTimeout + 50 + dwTimeout / 50));
}

INSTANTIATE_TEST_SUITE_P(Timeouts, RemoteModbusDeadline,
                         testing::Values(std::make_tuple(50, FALSE), std::make_tuple(2600, FALSE),
                                         std::make_tuple(300, TRUE), std::make_tuple(2600, TRUE)));

// Why a connection failed, against the real cause: the connection made at
// once (kept) and the one made for an exchange say the same.
enum class EPeer { Refusing, NeverAccepting, UnknownHost };

class RemoteModbusCause : public testing::TestWithParam<std::tuple<EPeer, BOOL>> {};

TEST_P(RemoteModbusCause, SaysWhereAndWhy) {
    const auto [ePeer, bKept] = GetParam();
    CListener silent(0);
    CBlockingSocket filler;  // fills the accept queue: later handshakes go unanswered
    filler.Create();
    filler.Connect(silent.Address(), 1000);
    WORD nPort = silent.Port();
    CString strHost = "127.0.0.1";
    CString strCause;
    if (ePeer == EPeer::Refusing) {
        ::close(ListenLoopback(-1, &nPort));
        strCause = "127.0.0.1:" + std::to_string(nPort) + ": connection refused";
    } else if (ePeer == EPeer::NeverAccepting) {
        strCause = "127.0.0.1:" + std::to_string(nPort) + ": no answer within 300 ms";
    } else {
        strHost = "no-such-host.invalid";
        strCause = "no-such-host.invalid: host name not found";
    }
    CRemoteModbus m;
    if (bKept) {
        EXPECT_FALSE(m.Connect(strHost, nPort, 300));
    } else {
        m.SetHost(strHost);
        m.SetPort(nPort);
        m.SetTimeout(300);
        m.SetReconnect(TRUE);
        CWordArray regs(1);
        EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, regs), REMOTE_NOT_CONNECTED);
    }
    EXPECT_EQ(m.GetLastCause(), strCause);
    filler.CloseQuietly();

    // A connection made since leaves nothing to explain.
    CListener live;
    ASSERT_TRUE(m.Connect("127.0.0.1", live.Port(), 1000));
    EXPECT_EQ(m.GetLastCause(), "");
}

std::string CauseCaseName(const testing::TestParamInfo<RemoteModbusCause::ParamType>& info) {
    static const char* const kPeers[] = {"Refusing", "NeverAccepting", "UnknownHost"};
    return std::string(kPeers[int(std::get<0>(info.param))]) +
           (std::get<1>(info.param) ? "_Kept" : "_PerExchange");
}

INSTANTIATE_TEST_SUITE_P(Peers, RemoteModbusCause,
                         testing::Combine(testing::Values(EPeer::Refusing, EPeer::NeverAccepting,
                                                          EPeer::UnknownHost),
                                          testing::Values(TRUE, FALSE)),
                         CauseCaseName);

TEST(RemoteModbus, ExceptionAnswers) {
    Link link;
    struct Case {
        BOOL bMap;
        BYTE byFunction;
        BYTE byCode;
        WORD wExpected;
    };
    const Case cases[] = {
        {TRUE, 0x83, 0x02, 0x8002}, {TRUE, 0x83, 0x81, 1},       {TRUE, 0x83, 0x8B, 11},
        {TRUE, 0x83, 0x80, 2},      {FALSE, 0x83, 0x81, 0x8081}, {TRUE, 0x80, 0x02, 2},
    };
    for (const Case& c : cases) {
        link.master.m_bMapServerErrors = c.bMap;
        CWordArray regs(1, 7);
        EXPECT_EQ(link.Read(regs, {0, 0, 0, 0, 0, 3, 0x01, c.byFunction, c.byCode}), c.wExpected)
            << int(c.byFunction) << "/" << int(c.byCode);
        EXPECT_EQ(regs[0], 0);
    }
}

TEST(RemoteModbus, OversizedFramesAreRefusedBeforeSending) {
    Link link;
    EXPECT_EQ(link.master.PresetMultipleRegisters(1, 0, 506, CWordArray(506)),
              REMOTE_BUFFER_OVERFLOW);  // 1019-byte request
    CWordArray regs(508);
    EXPECT_EQ(link.master.ReadOutputRegisters(1, 0, 508, regs), REMOTE_BUFFER_OVERFLOW);
    CFloatArray floats(8192);
    EXPECT_EQ(link.master.ReadOutputRegistersFloat(1, 0, 8192, floats, FALSE),
              REMOTE_BUFFER_OVERFLOW);  // 32771 bytes, more than 15 bits
    CDoubleArray doubles(16384);
    EXPECT_EQ(link.master.ReadInputRegistersDouble(1, 0, 16384, doubles, TRUE),
              REMOTE_BUFFER_OVERFLOW);  // 131075 bytes, more than 16 bits
    EXPECT_TRUE(ReadBytes(link.peer, 1, 100).empty());
}

TEST(RemoteModbus, StoredZeroTimeoutMeansDefault) {
    Link link;
    link.master.SetTimeout(0);
    CWordArray regs(1);
    WORD wStatus = 0xFFFF;
    std::thread client([&] { wStatus = link.master.ReadOutputRegisters(1, 0, 1, regs); });
    ReadBytes(link.peer, 12);
    // Still waiting after a second: a 0 was not taken as "no wait".
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    WriteBytes(link.peer, {0, 0, 0, 0, 0, 5, 1, 3, 2, 0, 42});
    client.join();
    EXPECT_EQ(wStatus, 0);
    EXPECT_EQ(regs[0], 42);
}

// The record's bytes with the defaults, and reconnecting after loading, are
// in ConnectionsTest; here every stored setting comes back.
TEST(RemoteModbus, SettingsRoundTripAndReconnectAfterLoading) {
    CListener listener;
    CRemoteModbus source;
    source.SetHost("127.0.0.1");
    source.SetPort(listener.Port());
    source.SetTimeout(750);
    source.m_byServerErrorBase = 0x90;
    CMemFile in(Stored(source));
    EXPECT_TRUE(source.IsConnected());  // storing connects too
    CArchive ar(&in, CArchive::load);
    CRemoteModbus loaded;
    loaded.Serialize(ar);
    EXPECT_TRUE(loaded.IsConnected());
    EXPECT_EQ(loaded.GetHost(), "127.0.0.1");
    EXPECT_EQ(loaded.GetPort(), listener.Port());
    EXPECT_EQ(loaded.GetTimeout(), 750u);
    EXPECT_EQ(loaded.m_byServerErrorBase, 0x90);
    EXPECT_EQ(in.GetRemaining(), 0u);
}

}  // namespace

// One deadline covers the whole exchange: a reconnect that the server takes
// its time to accept leaves the receive only what is left of the time-out.
TEST(RemoteModbus, ReconnectAndSilenceShareOneDeadline) {
    CListener listener(0);
    CBlockingSocket filler;
    filler.Create();
    filler.Connect(listener.Address(), 1000);  // fills the accept queue
    std::thread server([&listener] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        int h1 = listener.Accept();
        // The master's handshake gets through on its retransmission, about
        // a second after it began; then nobody answers.
        int h2 = listener.Accept(3000);
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        for (int h : {h1, h2}) {
            if (h >= 0) {
                ::close(h);
            }
        }
    });
    CRemoteModbus m;
    m.SetHost("127.0.0.1");
    m.SetPort(listener.Port());
    m.SetTimeout(1500);
    m.SetReconnect(TRUE);
    m.m_nTries = 1;
    CWordArray regs(1);
    const auto start = std::chrono::steady_clock::now();
    WORD wStatus = m.ReadOutputRegisters(1, 0, 1, regs);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_EQ(wStatus, REMOTE_SOCKET_ERROR);
    EXPECT_GE(ms, 1400);
    EXPECT_LT(ms, 1500 + 300);
    server.join();
    filler.CloseQuietly();
}
