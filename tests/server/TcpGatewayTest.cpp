// The port's Modbus/TCP gateway: libmodbus and mbpoll as clients, and a raw
// client for the framing cases, all through the port's line to the
// simulator's RTU side.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "ChildProcess.h"
#include "ServerTestKit.h"
#include "server/SerialPortObject.h"
#include "sim/SimSerialServer.h"

namespace {
using Clock = std::chrono::steady_clock;

class CRawClient {
public:
    explicit CRawClient(WORD nPort) {
        m_hSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(nPort);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_bConnected = ::connect(m_hSocket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    }
    ~CRawClient() { ::close(m_hSocket); }

    void Send(const CByteArray& bytes) {
        ASSERT_EQ(::send(m_hSocket, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  ssize_t(bytes.size()));
    }
    // Collects bytes until nWant arrived, the peer closed or nMillis passed.
    CByteArray Receive(size_t nWant, int nMillis) {
        CByteArray got;
        const auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
        while (got.size() < nWant && !m_bClosed) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd pfd{m_hSocket, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&pfd, 1, int(left.count())) <= 0) {
                break;
            }
            BYTE buffer[300];
            const ssize_t n = ::recv(m_hSocket, buffer, sizeof buffer, 0);
            if (n <= 0) {
                m_bClosed = true;
            } else {
                got.insert(got.end(), buffer, buffer + n);
            }
        }
        return got;
    }

    int m_hSocket;
    bool m_bConnected = false;
    bool m_bClosed = false;
};

CByteArray Mbap(WORD wTransaction, const CByteArray& adu) {
    CByteArray frame{HIBYTE(wTransaction),         LOBYTE(wTransaction), 0, 0, 0,
                     static_cast<BYTE>(adu.size())};
    frame.insert(frame.end(), adu.begin(), adu.end());
    return frame;
}

CSimFaultRule Rule(const char* pszText) {
    CSimFaultRule rule;
    CString strError;
    EXPECT_TRUE(CSimFaults::Parse(pszText, rule, strError)) << strError;
    return rule;
}

class TcpGateway : public testing::Test {
protected:
    void SetUp() override {
        for (WORD i = 0; i < 20; ++i) {
            m_device.SetHoldingRegister(i, static_cast<WORD>(0x1100 + i));
            m_device.SetInputRegister(i, static_cast<WORD>(0x2200 + i));
            m_device.SetCoil(i, i % 2 == 1);
        }
        ASSERT_TRUE(m_sim.StartPty()) << m_sim.GetError();
        CPortMap map;
        map.SetPath(2, m_sim.GetPath());
        m_pPorts = std::make_shared<CSerialPorts>(map);
        m_pPort = new CSerialPortObject(m_pPorts);
        m_pPort->put_Port(2);
        m_pPort->put_Timeout(300);
        m_pPort->put_ErrorDelay(0);
        VARIANT_BOOL bOk = VARIANT_FALSE;
        m_pPort->Connect(&bOk);
        ASSERT_EQ(bOk, VARIANT_TRUE);
        IDispatch* pDispatch = nullptr;
        ASSERT_EQ(m_pPort->get_TcpServer(&pDispatch), S_OK);
        pDispatch->QueryInterface(IID_IModbusTcpServer, reinterpret_cast<void**>(&m_pGateway));
        pDispatch->Release();
        ASSERT_NE(m_pGateway, nullptr);
        BSTR bstrAddress = AllocBstr("127.0.0.1");
        EXPECT_EQ(m_pGateway->put_Address(bstrAddress), S_OK);
        SysFreeString(bstrAddress);
        m_pGateway->put_Port(0);
        m_pGateway->Start(&bOk);
        ASSERT_EQ(bOk, VARIANT_TRUE);
        LONG nPort = 0;
        m_pGateway->get_Port(&nPort);
        ASSERT_GT(nPort, 0);
        m_nPort = static_cast<WORD>(nPort);
    }
    void TearDown() override {
        if (m_pGateway != nullptr) {
            m_pGateway->Release();
        }
        if (m_pPort != nullptr) {
            m_pPort->Release();
        }
        m_pPorts.reset();
        m_sim.Stop();
    }

    CLogCapture m_log;
    CSimDevice m_device;
    CSimSerialServer m_sim{m_device};
    std::shared_ptr<CSerialPorts> m_pPorts;
    IModbusSerialPort* m_pPort = nullptr;
    IModbusTcpServer* m_pGateway = nullptr;
    WORD m_nPort = 0;
};

TEST_F(TcpGateway, LibmodbusMaster) {
    modbus_t* pCtx = modbus_new_tcp("127.0.0.1", m_nPort);
    ASSERT_NE(pCtx, nullptr);
    modbus_set_response_timeout(pCtx, 2, 0);
    ASSERT_EQ(modbus_connect(pCtx), 0);
    modbus_set_slave(pCtx, 1);
    uint16_t registers[10] = {};
    ASSERT_EQ(modbus_read_registers(pCtx, 3, 10, registers), 10);
    EXPECT_EQ(registers[0], 0x1103);
    EXPECT_EQ(registers[9], 0x110C);
    ASSERT_EQ(modbus_read_input_registers(pCtx, 0, 2, registers), 2);
    EXPECT_EQ(registers[1], 0x2201);
    uint8_t bits[8] = {};
    ASSERT_EQ(modbus_read_bits(pCtx, 0, 8, bits), 8);
    EXPECT_EQ(bits[1], 1);
    EXPECT_EQ(bits[2], 0);
    EXPECT_EQ(modbus_write_register(pCtx, 40, 0xCAFE), 1);
    EXPECT_EQ(m_device.GetHoldingRegister(40), 0xCAFE);
    const uint16_t values[3] = {1, 2, 3};
    EXPECT_EQ(modbus_write_registers(pCtx, 41, 3, values), 3);
    EXPECT_EQ(m_device.GetHoldingRegister(43), 3);
    EXPECT_EQ(modbus_write_bit(pCtx, 50, 1), 1);
    EXPECT_TRUE(m_device.GetCoil(50));

    // The device's exception passes through; the gateway's own say why the
    // line gave nothing.
    EXPECT_EQ(modbus_read_registers(pCtx, 9999, 2, registers), -1);
    EXPECT_EQ(errno, EMBXILADD);
    m_sim.AddFault(Rule("no-answer@next=1"));
    EXPECT_EQ(modbus_read_registers(pCtx, 0, 1, registers), -1);
    EXPECT_EQ(errno, EMBXGTAR);
    m_sim.AddFault(Rule("bad-crc@next=1"));
    EXPECT_EQ(modbus_read_registers(pCtx, 0, 1, registers), -1);
    EXPECT_EQ(errno, EMBXGTAR);
    m_pPorts->GetPort(2)->Close();
    EXPECT_EQ(modbus_read_registers(pCtx, 0, 1, registers), -1);
    EXPECT_EQ(errno, EMBXGPATH);
    modbus_close(pCtx);
    modbus_free(pCtx);
}

TEST_F(TcpGateway, Mbpoll) {
    if (::access("/usr/bin/mbpoll", X_OK) != 0) {
        GTEST_SKIP() << "/usr/bin/mbpoll is missing (Debian package mbpoll)";
    }
    CChildProcess mbpoll;
    ASSERT_TRUE(mbpoll.Start({"/usr/bin/mbpoll", "-m", "tcp", "-a", "1", "-r", "1", "-c", "2", "-1",
                              "-p", std::to_string(m_nPort), "127.0.0.1"}));
    const std::string strOutput = mbpoll.ReadAll(5000);
    EXPECT_EQ(mbpoll.Wait(3000), 0) << strOutput;
    // References count from 1: registers 0 and 1.
    EXPECT_NE(strOutput.find("[1]: \t4352"), std::string::npos) << strOutput;
    EXPECT_NE(strOutput.find("[2]: \t4353"), std::string::npos) << strOutput;
}

TEST_F(TcpGateway, SplitAndPipelinedRequests) {
    CRawClient client(m_nPort);
    ASSERT_TRUE(client.m_bConnected);
    const CByteArray request = Mbap(0x0102, {0x01, 0x03, 0x00, 0x05, 0x00, 0x01});
    client.Send(CByteArray(request.begin(), request.begin() + 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    client.Send(CByteArray(request.begin() + 3, request.begin() + 8));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    client.Send(CByteArray(request.begin() + 8, request.end()));
    EXPECT_EQ(client.Receive(11, 2000), Mbap(0x0102, {0x01, 0x03, 0x02, 0x11, 0x05}));

    CByteArray two = Mbap(7, {0x01, 0x04, 0x00, 0x00, 0x00, 0x01});
    const CByteArray second = Mbap(8, {0x01, 0x06, 0x00, 0x09, 0x12, 0x34});
    two.insert(two.end(), second.begin(), second.end());
    client.Send(two);
    CByteArray expected = Mbap(7, {0x01, 0x04, 0x02, 0x22, 0x00});
    const CByteArray echo = Mbap(8, {0x01, 0x06, 0x00, 0x09, 0x12, 0x34});
    expected.insert(expected.end(), echo.begin(), echo.end());
    EXPECT_EQ(client.Receive(expected.size(), 2000), expected);

    // A broadcast is carried out and not answered.
    client.Send(Mbap(9, {0x00, 0x06, 0x00, 0x0A, 0x00, 0x2A}));
    EXPECT_TRUE(client.Receive(1, 300).empty());
    EXPECT_EQ(m_device.GetHoldingRegister(10), 0x2A);

    // A header no Modbus/TCP client sends ends the connection.
    client.Send({0, 1, 0, 5, 0, 6, 1, 3, 0, 0, 0, 1});
    client.Receive(1, 2000);
    EXPECT_TRUE(client.m_bClosed);
    EXPECT_TRUE(m_log.Contains("COM2 gateway: malformed request header"));
}

TEST_F(TcpGateway, ClientsAreCountedAndStopEndsThem) {
    std::vector<std::unique_ptr<CRawClient>> clients;
    for (size_t i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<CRawClient>(m_nPort));
        ASSERT_TRUE(clients.back()->m_bConnected);
    }
    // Every one is served...
    for (size_t i = 0; i < clients.size(); ++i) {
        clients[i]->Send(Mbap(WORD(i), {0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
        EXPECT_EQ(clients[i]->Receive(11, 2000).size(), 11u) << i;
    }
    // ...and one more is turned away.
    CRawClient extra(m_nPort);
    extra.Receive(1, 2000);
    EXPECT_TRUE(extra.m_bClosed);
    EXPECT_TRUE(m_log.Contains("turned away: too many connections"));

    VARIANT_BOOL bResult = VARIANT_FALSE;
    EXPECT_EQ(m_pGateway->Stop(&bResult), S_OK);
    EXPECT_EQ(bResult, VARIANT_TRUE);
    clients[0]->Receive(1, 2000);
    EXPECT_TRUE(clients[0]->m_bClosed);
    m_pGateway->get_Running(&bResult);
    EXPECT_EQ(bResult, VARIANT_FALSE);
    m_pGateway->Stop(&bResult);
    EXPECT_EQ(bResult, VARIANT_TRUE);  // stopped already
    CRawClient refused(m_nPort);
    EXPECT_FALSE(refused.m_bConnected);

    // It starts again where it was, and twice is still running.
    m_pGateway->Start(&bResult);
    EXPECT_EQ(bResult, VARIANT_TRUE);
    m_pGateway->Start(&bResult);
    EXPECT_EQ(bResult, VARIANT_TRUE);
    CRawClient again(m_nPort);
    again.Send(Mbap(1, {0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(again.Receive(11, 2000).size(), 11u);
    EXPECT_FALSE(m_pPorts->IsIdle());

    BSTR bstrBad = AllocBstr("localhost");
    EXPECT_EQ(m_pGateway->put_Address(bstrBad), E_INVALIDARG);
    SysFreeString(bstrBad);
    BSTR bstrAddress = nullptr;
    m_pGateway->get_Address(&bstrAddress);
    EXPECT_EQ(BstrToString(bstrAddress), "127.0.0.1");
    SysFreeString(bstrAddress);
}
}  // namespace
