// What the transports report to the traffic observer is what went over the
// wire: on Modbus/TCP the frames a recording peer received and sent, for
// every function the master has; on a serial connection the PDU the server
// was handed and what it returned, with its status. Nothing is reported
// once the observer is cleared.
#include <gtest/gtest.h>

#include <thread>

#include "core/Traffic.h"
#include "tests/support/FakeSerialServer.h"
#include "tests/support/PeerSocket.h"
#include "transport/AutoModbus.h"
#include "transport/RemoteModbus.h"

namespace {

// A Modbus/TCP peer on one connection that answers every function the master
// has, recording each frame it received and each frame it sent.
class CRecordingPeer {
public:
    CRecordingPeer() : m_thread([this] { Serve(); }) {}
    ~CRecordingPeer() { Join(); }
    // Waits for the connection to end; the records are complete after it.
    void Join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    unsigned short Port() const { return m_listener.Port(); }

    std::vector<CByteArray> m_received;
    std::vector<CByteArray> m_sent;

private:
    void Serve() {
        const int h = m_listener.Accept(5000);
        for (CByteArray frame; h >= 0 && (frame = ReadBytes(h, 7)).size() == 7;) {
            const size_t nBody = size_t(frame[4] << 8 | frame[5]) - 1;
            const CByteArray body = ReadBytes(h, nBody);
            if (body.size() != nBody) {
                break;
            }
            frame.insert(frame.end(), body.begin(), body.end());
            m_received.push_back(frame);
            const CByteArray pdu = Answer(body);
            CByteArray answer(frame.begin(), frame.begin() + 7);
            answer.insert(answer.end(), pdu.begin(), pdu.end());
            answer[4] = BYTE((pdu.size() + 1) >> 8);
            answer[5] = BYTE(pdu.size() + 1);
            m_sent.push_back(answer);
            ::send(h, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        if (h >= 0) {
            ::close(h);
        }
    }
    static CByteArray Answer(const CByteArray& pdu) {
        const size_t nCount = size_t(pdu[3] << 8 | pdu[4]);
        switch (pdu[0]) {
            case 1:
            case 2: {
                CByteArray a{pdu[0], BYTE((nCount + 7) / 8)};
                a.resize(2 + a[1], 0xA5);
                return a;
            }
            case 3:
            case 4: {
                CByteArray a{pdu[0], BYTE(2 * nCount)};
                for (size_t i = 0; i < nCount; ++i) {
                    a.insert(a.end(), {BYTE(0x12 + i), 0x34});
                }
                return a;
            }
            case 16:
                return CByteArray(pdu.begin(), pdu.begin() + 5);
            default:
                return pdu;  // 5, 6 and 8 echo the request
        }
    }

    CListener m_listener;
    std::thread m_thread;
};

class TrafficCapture : public testing::Test {
protected:
    void SetUp() override { Traffic::SetObserver(&m_ring); }
    void TearDown() override { Traffic::SetObserver(nullptr); }
    CTrafficRing m_ring;
};

TEST_F(TrafficCapture, TcpFramesOfEveryFunctionAreTheBytesOnTheWire) {
    std::vector<CByteArray> received, sent;
    CRemoteModbus m;
    std::string strTransport;
    {
        CRecordingPeer peer;
        strTransport = "tcp 127.0.0.1:" + std::to_string(peer.Port());
        ASSERT_TRUE(m.Connect("127.0.0.1", peer.Port(), 2000));
        CByteArray bits(10);
        CWordArray words(3);
        EXPECT_EQ(m.ReadOutputStatus(1, 4, 10, bits), 0);
        EXPECT_EQ(m.ReadInputStatus(2, 5, 10, bits), 0);
        EXPECT_EQ(m.ReadOutputRegisters(3, 6, 3, words), 0);
        EXPECT_EQ(m.ReadInputRegisters(4, 7, 3, words), 0);
        EXPECT_EQ(m.ForceSingleCoil(5, 8, 1), 0);
        EXPECT_EQ(m.PresetSingleRegister(6, 9, 0xBEEF), 0);
        EXPECT_EQ(m.LoopbackTest(7), 0);
        EXPECT_EQ(m.PresetMultipleRegisters(8, 10, 2, CWordArray{0x0102, 0x0304}), 0);
        m.Disconnect();
        peer.Join();  // the peer ends when the connection does
        received = peer.m_received;
        sent = peer.m_sent;
    }
    // Not watched: nothing more is kept.
    Traffic::SetObserver(nullptr);
    CListener other;
    m.Connect("127.0.0.1", other.Port(), 100);
    m.LoopbackTest(1);
    const std::vector<CTrafficExchange> exchanges = m_ring.Since(0);
    ASSERT_EQ(exchanges.size(), 8u);
    ASSERT_EQ(received.size(), 8u);
    const BYTE functions[] = {1, 2, 3, 4, 5, 6, 8, 16};
    for (size_t i = 0; i < exchanges.size(); ++i) {
        const CTrafficExchange& e = exchanges[i];
        EXPECT_EQ(e.request, received[i]) << i;
        EXPECT_EQ(e.answer, sent[i]) << i;
        EXPECT_EQ(e.request[7], functions[i]);
        EXPECT_EQ(e.request[6], BYTE(i + 1));  // the unit
        EXPECT_EQ(e.strStatus, "Ok");
        EXPECT_EQ(e.pSource, &m);
        EXPECT_EQ(e.strTransport, strTransport);
        EXPECT_GE(e.dMillis, 0.0);
    }
}

TEST_F(TrafficCapture, AFailedTcpExchangeShowsWhatWasSentAndNoAnswer) {
    CListener silent;  // accepts, never answers
    CRemoteModbus m;
    ASSERT_TRUE(m.Connect("127.0.0.1", silent.Port(), 100));
    const int h = silent.Accept();
    CWordArray words(1);
    EXPECT_NE(m.ReadOutputRegisters(1, 0, 1, words), 0);
    m.Disconnect();
    CWordArray more(1);
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, more), REMOTE_NOT_CONNECTED);
    ::close(h);
    const std::vector<CTrafficExchange> exchanges = m_ring.Since(0);
    ASSERT_EQ(exchanges.size(), 2u);
    EXPECT_EQ(exchanges[0].request, (CByteArray{0, 0, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1}));
    EXPECT_TRUE(exchanges[0].answer.empty());
    EXPECT_EQ(exchanges[0].strStatus, "Socket Error: no answer within 100 ms");
    EXPECT_GE(exchanges[0].dMillis, 90.0);  // its time-out
    // Never framed: the bytes the master handed over, no header.
    EXPECT_EQ(exchanges[1].request, (CByteArray{1, 3, 0, 0, 0, 1}));
    EXPECT_EQ(exchanges[1].strStatus, "Socket not connected");
}

TEST_F(TrafficCapture, SerialExchangesShowThePduAndTheServersStatus) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        CFakeSerialServer server;
        CFakeServerRegistration reg(server, CLSCTX_LOCAL_SERVER);
        CAutoModbus m;
        ASSERT_EQ(m.Create("", "com2"), S_OK);
        server.Answer({1, 3, 2, 0x12, 0x34});
        CWordArray words(1);
        EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, words), 0);
        server.Fail(static_cast<LONG>(0x80040201), S_OK);  // the line timed out
        EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, words), 1);
        const std::vector<CTrafficExchange> exchanges = m_ring.Since(0);
        ASSERT_EQ(exchanges.size(), 2u);
        EXPECT_EQ(exchanges[0].request, server.m_lastRequest);
        EXPECT_EQ(exchanges[0].request, (CByteArray{1, 3, 0, 0, 0, 1}));
        EXPECT_EQ(exchanges[0].answer, (CByteArray{1, 3, 2, 0x12, 0x34}));
        EXPECT_EQ(exchanges[0].strStatus, "Ok");
        EXPECT_EQ(exchanges[0].strTransport, "serial com2");
        // Device address and PDU, decoded as such.
        EXPECT_EQ(Traffic::DescribeLines(exchanges[0])[1].strDecoded,
                  "unit 1: read holding registers: 4660");
        EXPECT_TRUE(exchanges[1].answer.empty());
        EXPECT_EQ(exchanges[1].strStatus, "Time Out Error (server status 0x80040201)");
        EXPECT_EQ(exchanges[1].pSource, &m);
    }
    CoUninitialize();
}

}  // namespace
