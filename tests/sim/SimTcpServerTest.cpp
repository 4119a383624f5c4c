#include "sim/SimTcpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/SimRule.h"
#include "tests/support/PeerSocket.h"

namespace {
using Clock = std::chrono::steady_clock;

CByteArray ReadRequest(WORD wId, BYTE unit, BYTE byAddress, BYTE byCount) {
    return {HIBYTE(wId), LOBYTE(wId), 0, 0, 0, 6, unit, 3, 0, byAddress, 0, byCount};
}

class SimTcpServer : public testing::Test {
protected:
    void SetUp() override {
        m_device.SetHoldingRegister(0, 0x0102);
        m_device.SetHoldingRegister(1, 0x0304);
        ASSERT_TRUE(m_server.Start()) << m_server.GetError();
        ASSERT_NE(m_server.GetPort(), 0);
    }
    void Fault(const char* pszRule) { m_server.AddFault(Rule(pszRule)); }

    CSimDevice m_device;
    CSimTcpServer m_server{m_device};
};
}  // namespace

TEST_F(SimTcpServer, ReassemblesRequestsEchoesTheirIdsAndIgnoresAbsentUnits) {
    CRawClient client(m_server.GetPort());
    ASSERT_TRUE(client.m_bConnected);
    const CByteArray request = ReadRequest(0x1234, 1, 0, 1);
    const CByteArray answer{0x12, 0x34, 0, 0, 0, 5, 1, 3, 2, 0x01, 0x02};
    for (size_t nCut : {2, 7}) {
        client.Send(CByteArray(request.begin(), request.begin() + nCut));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        client.Send(CByteArray(request.begin() + nCut, request.end()));
        EXPECT_EQ(client.Receive(answer.size(), 1000), answer);
    }
    // Two requests in one segment: two answers, in order.
    CByteArray both = ReadRequest(0xA001, 1, 1, 1);
    CByteArray second = ReadRequest(0xA002, 1, 0, 2);
    both.insert(both.end(), second.begin(), second.end());
    client.Send(both);
    EXPECT_EQ(client.Receive(24, 1000), (CByteArray{0xA0, 1, 0, 0, 0, 5, 1, 3, 2, 3, 4, 0xA0,
                                                    2,    0, 0, 0, 7, 1, 3, 4, 1, 2, 3, 4}));
    EXPECT_EQ(m_server.GetRequestCount(), 4u);

    // Absent units stay silent on a connection that stays open.
    m_device.SetAllUnits(FALSE);
    m_device.SetUnit(7, TRUE);
    client.Send(ReadRequest(1, 1, 0, 1));
    EXPECT_TRUE(client.Receive(1, 200).empty());
    client.Send(ReadRequest(2, 7, 0, 1));
    EXPECT_EQ(client.Receive(11, 1000), (CByteArray{0, 2, 0, 0, 0, 5, 7, 3, 2, 1, 2}));
    EXPECT_FALSE(client.m_bClosed);
}

TEST_F(SimTcpServer, MalformedHeadersCloseTheConnection) {
    const CByteArray headers[] = {
        {0, 1, 0, 1, 0, 6, 1, 3, 0, 0, 0, 1},  // protocol 1
        {0, 1, 0, 0, 0, 1, 1},                 // no function code
        {0, 1, 0, 0, 0, 255, 1, 3},            // longer than any frame
    };
    for (const CByteArray& header : headers) {
        CRawClient client(m_server.GetPort());
        client.Send(header);
        EXPECT_TRUE(client.Receive(1, 1000).empty());
        EXPECT_TRUE(client.m_bClosed);
    }
    EXPECT_EQ(m_server.GetRequestCount(), 0u);
}

TEST_F(SimTcpServer, FaultsShapeTheFrame) {
    Fault("cut-short=2@request=1");
    Fault("bad-length=5@request=2");
    Fault("wrong-unit=9@request=3");
    Fault("extra-bytes=2@request=4");
    CRawClient client(m_server.GetPort());
    client.Send(ReadRequest(1, 1, 0, 2));
    EXPECT_EQ(client.Receive(9, 1000), (CByteArray{0, 1, 0, 0, 0, 3, 1, 3, 4}));
    client.Send(ReadRequest(2, 1, 0, 1));
    EXPECT_EQ(client.Receive(12, 300), (CByteArray{0, 2, 0, 0, 0, 10, 1, 3, 2, 1, 2}));
    client.Send(ReadRequest(3, 1, 0, 1));
    EXPECT_EQ(client.Receive(11, 1000), (CByteArray{0, 3, 0, 0, 0, 5, 9, 3, 2, 1, 2}));
    client.Send(ReadRequest(4, 1, 0, 1));
    EXPECT_EQ(client.Receive(14, 300), (CByteArray{0, 4, 0, 0, 0, 5, 1, 3, 2, 1, 2, 0xEE, 0xEE}));
    EXPECT_FALSE(client.m_bClosed);
}

TEST_F(SimTcpServer, StopEndsConnectionsAndPendingAnswers) {
    Fault("delay=20000");
    CRawClient client(m_server.GetPort());
    client.Send(ReadRequest(1, 1, 0, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    m_server.Stop();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(client.Receive(1, 1000).empty());
    EXPECT_TRUE(client.m_bClosed);
    EXPECT_FALSE(m_server.IsRunning());
}

TEST_F(SimTcpServer, LimitsConnectionsAndRefusesBadAddresses) {
    m_server.Stop();
    m_server.SetMaxConnections(1);
    ASSERT_TRUE(m_server.Start());
    CRawClient first(m_server.GetPort());
    first.Send(ReadRequest(1, 1, 0, 1));
    EXPECT_EQ(first.Receive(11, 1000).size(), 11u);
    CRawClient second(m_server.GetPort());
    EXPECT_TRUE(second.Receive(1, 1000).empty());
    EXPECT_TRUE(second.m_bClosed);
    EXPECT_EQ(m_server.GetConnectionCount(), 2u);

    CSimTcpServer other(m_device);
    other.SetPort(m_server.GetPort());
    EXPECT_FALSE(other.Start());
    EXPECT_FALSE(other.GetError().empty());
    other.SetAddress("localhost");
    other.SetPort(0);
    EXPECT_FALSE(other.Start());
    EXPECT_FALSE(other.IsRunning());
}
