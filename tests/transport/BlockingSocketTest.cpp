#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/PeerSocket.h"
#include "tests/support/Timing.h"
#include "transport/BlockingSocket.h"

namespace {

using Clock = std::chrono::steady_clock;

// A connected pair: our socket and the accepted peer's descriptor.
struct Pair {
    CListener listener;
    CBlockingSocket sock;
    int peer = -1;

    Pair() {
        sock.Create();
        sock.Connect(listener.Address(), 1000);
        peer = listener.Accept();
    }
    ~Pair() {
        sock.CloseQuietly();
        if (peer >= 0) {
            ::close(peer);
        }
    }
};

CString MessageOf(CException* e) {
    char text[256];
    e->GetErrorMessage(text, sizeof text);
    e->Delete();
    return text;
}

TEST(BlockingSocket, ReceiveTimesOutWithinItsLimit) {
    Pair p;
    char buf[8];
    auto t0 = Clock::now();
    try {
        p.sock.Receive(buf, sizeof buf, 300);
        FAIL() << "no time-out";
    } catch (CBlockingSocketException* e) {
        EXPECT_EQ(MessageOf(e), "Receive timeout error");
    }
    long ms = MillisSince(t0);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 2000);

    // Data that arrive within the time-out are returned at once: see the
    // delayed answers in RemoteModbusSimTest.
    // A zero wait never blocks.
    try {
        p.sock.Receive(buf, sizeof buf, 0);
        ADD_FAILURE() << "a zero wait returned data";
    } catch (CBlockingSocketException* e) {
        e->Delete();
    }
}

TEST(BlockingSocket, PeerClosedReturnsZero) {
    Pair p;
    ::close(p.peer);
    p.peer = -1;
    char buf[4];
    EXPECT_EQ(p.sock.Receive(buf, sizeof buf, 1000), 0);
}

TEST(BlockingSocket, SendTimesOutWhenPeerDoesNotRead) {
    Pair p;
    int small = 4096;
    ::setsockopt(p.sock.m_hSocket, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    std::vector<char> chunk(65536, 'x');
    bool bTimedOut = false;
    for (int i = 0; i < 10000 && !bTimedOut; ++i) {
        try {
            p.sock.Send(chunk.data(), static_cast<int>(chunk.size()), 0);
        } catch (CBlockingSocketException* e) {
            EXPECT_EQ(MessageOf(e), "Send timeout error");
            bTimedOut = true;
        }
    }
    EXPECT_TRUE(bTimedOut);
    // And a bounded wait gives up too (the peer's window may still open a
    // little at first).
    bTimedOut = false;
    for (int i = 0; i < 50 && !bTimedOut; ++i) {
        auto t0 = Clock::now();
        try {
            p.sock.SendAll(chunk.data(), static_cast<int>(chunk.size()), 200);
        } catch (CBlockingSocketException* e) {
            EXPECT_EQ(MessageOf(e), "Send timeout error");
            EXPECT_LT(MillisSince(t0), 2000);
            bTimedOut = true;
        }
    }
    EXPECT_TRUE(bTimedOut);
}

// A connection begun for one exchange stays non-blocking, so a send
// takes what the buffers hold and returns: the rest must follow from where
// it stopped, not from the start.
TEST(BlockingSocket, SendAllGoesOnWhereAPartialSendStopped) {
    CListener listener;
    CBlockingSocket sock;
    sock.Create();
    int small = 4096;
    ::setsockopt(sock.m_hSocket, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    sock.StartConnect(listener.Address());
    const int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    CByteArray data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<BYTE>(i * 7 + i / 251);
    }
    CByteArray got;
    std::thread reader([&] { got = ReadBytes(peer, data.size(), 5000); });
    EXPECT_EQ(sock.SendAll(reinterpret_cast<const char*>(data.data()), int(data.size()), 5000),
              int(data.size()));
    sock.CloseQuietly();
    reader.join();
    ::close(peer);
    EXPECT_TRUE(got == data) << got.size() << " bytes of " << data.size();
}

TEST(BlockingSocket, CloseTwiceAndQuietly) {
    Pair p;
    p.sock.Close();
    EXPECT_EQ(p.sock.m_hSocket, INVALID_SOCKET);
    try {
        p.sock.Close();
        FAIL() << "second close did not raise";
    } catch (CBlockingSocketException* e) {
        EXPECT_EQ(e->m_strOperation, "Close");
        EXPECT_NE(e->m_nSocketError, 0);
        e->Delete();
    }
    p.sock.CloseQuietly();
    p.sock.CloseQuietly();
    EXPECT_EQ(p.sock.m_hSocket, INVALID_SOCKET);
}

TEST(BlockingSocket, ConnectRefusedNamesTheError) {
    SOCKADDR_IN sa;
    {
        CListener gone;
        sa = gone.Address();
    }
    CBlockingSocket s;
    s.Create();
    try {
        s.Connect(sa, 1000);
        FAIL() << "connected to a closed port";
    } catch (CBlockingSocketException* e) {
        EXPECT_EQ(MessageOf(e), "Connect error #" + std::to_string(ECONNREFUSED));
    }
    s.CloseQuietly();
}

// Resolving, and a name that does not resolve, are in RemoteModbusTest.
TEST(SocketHelpers, NamesAndAddresses) {
    EXPECT_EQ(AddressToText(GetHostByName("127.0.0.1", 502)), "127.0.0.1");
    EXPECT_FALSE(GetLocalHostName().empty());
}

TEST(SocketHelpers, FailureTexts) {
    char buf[500];
    std::memset(buf, 'q', sizeof buf);
    EXPECT_FALSE(GetFailureText(0, buf, sizeof buf));
    EXPECT_FALSE(GetFailureText(0x00040200, buf, sizeof buf));
    EXPECT_EQ(buf[0], 'q');  // untouched for a success code

    // A failure of the server process is not an access error.
    EXPECT_TRUE(GetFailureText(static_cast<HRESULT>(0x80080005), buf, sizeof buf));
    EXPECT_STREQ(buf, "Server execution failed");

    std::memset(buf, 'q', sizeof buf);
    EXPECT_FALSE(GetFailureText(static_cast<HRESULT>(0x80040201), buf, sizeof buf));
    for (char c : buf) {
        ASSERT_EQ(c, '\0');
    }
}

}  // namespace
