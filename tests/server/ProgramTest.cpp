// The two programs as their users run them: regprobe-sim on a pty it makes,
// and modbus-serial-server serving other processes through the remoting
// layer.
#include <signal.h>

#include "tests/server/ServerProgram.h"
#include "tests/server/ServerTestKit.h"
#include "transport/AutoModbus.h"

namespace {
TEST(Programs, SimulatorOnItsOwnPtyAndBadUsage) {
    CChildProcess sim;
    ASSERT_TRUE(sim.Start({REGPROBE_SIM_PROGRAM, "--pty", "--mode", "ascii", "--holding", "0=5,6",
                           "--fault", "garbage=3@fn3"}));
    std::string strLine;
    ASSERT_TRUE(sim.ReadLine(strLine, 5000));
    ASSERT_EQ(strLine.rfind("pty /dev/", 0), 0u) << strLine;
    std::shared_ptr<CSerialPorts> pPorts;
    IModbusSerialPort* pPort = OpenPort(pPorts, 6, strLine.substr(4), 1, 1000);
    ASSERT_NE(pPort, nullptr);
    const CExchange x = Transfer(pPort, {1, 3, 0, 0, 0, 2});
    EXPECT_EQ(x.m_nStatus, 0);
    EXPECT_EQ(x.m_answer, (CByteArray{1, 3, 4, 0, 5, 0, 6}));
    pPort->Release();
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(3000), 0);

    CChildProcess badSim;
    ASSERT_TRUE(badSim.Start({REGPROBE_SIM_PROGRAM, "--pty", "--serial", "/dev/ttyS0"}));
    EXPECT_EQ(badSim.Wait(3000), 2);
    CChildProcess badServer;
    ASSERT_TRUE(badServer.Start({REGPROBE_SERVER_PROGRAM, "--port", "COM0=/dev/x"}));
    EXPECT_EQ(badServer.Wait(3000), 2);
}

TEST_F(ServerProgram, ServesLocalClientsAndRemoteOnesThatHoldTheKey) {
    ASSERT_TRUE(StartServer({}));
    {
        CAutoModbus m;
        ASSERT_EQ(m.Create("", "com1"), S_OK);
        ASSERT_TRUE(m.Connect());
        CWordArray values(3);
        ASSERT_EQ(m.ReadOutputRegisters(1, 2, 3, values), 0);
        EXPECT_EQ(values, (CWordArray{0x5502, 0x5503, 0x5504}));

        // The port's gateway, driven from here, runs in the server.
        BSTR bstrAddress = AllocBstr("127.0.0.1");
        m.m_pTcpServer->put_Address(bstrAddress);
        SysFreeString(bstrAddress);
        m.m_pTcpServer->put_Port(0);
        VARIANT_BOOL bRunning = VARIANT_FALSE;
        m.m_pTcpServer->Start(&bRunning);
        ASSERT_EQ(bRunning, VARIANT_TRUE);
        LONG nPort = 0;
        m.m_pTcpServer->get_Port(&nPort);
        CRawClient client(nPort);
        client.Send(Mbap(5, {1, 3, 0, 0, 0, 1}));
        EXPECT_EQ(client.Receive(11, 2000), Mbap(5, {1, 3, 2, 0x55, 0x00}));
        m.m_pTcpServer->Stop(&bRunning);
    }
    {
        CoSetAccessKeyFile(Path("right.key").c_str());
        CAutoModbus m;
        ASSERT_EQ(m.Create(m_strRemote, "com1"), S_OK);
        ASSERT_TRUE(m.Connect());
        CWordArray values(1);
        EXPECT_EQ(m.ReadOutputRegisters(1, 7, 1, values), 0);
        EXPECT_EQ(values[0], 0x5507);
    }
    CoSetAccessKeyFile(Path("wrong.key").c_str());
    CAutoModbus refused;
    EXPECT_EQ(refused.Create(m_strRemote, "com1"), E_ACCESSDENIED);
    m_server.Signal(SIGTERM);
    EXPECT_EQ(m_server.Wait(5000), 0);
}

TEST_F(ServerProgram, HungServerFailsAnExchangeWithinThePortsTimeOut) {
    ASSERT_TRUE(StartServer({}));
    CAutoModbus m;
    ASSERT_EQ(m.Create("", "com1"), S_OK);
    ASSERT_TRUE(m.Connect());
    // Changed on a connection that is open already.
    m.SetTimeout(300);
    m.SetErrorDelay(100);
    CWordArray values(1);
    ASSERT_EQ(m.ReadOutputRegisters(1, 0, 1, values), 0);
    m_server.Signal(SIGSTOP);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, values), AUTO_AUTOMATION_ERROR);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    m_server.Signal(SIGCONT);
    EXPECT_GE(elapsed, std::chrono::milliseconds(400));
    EXPECT_LT(elapsed,
              std::chrono::milliseconds(300 + 100 + CAutoModbus::kExchangeMarginMillis + 1000));
}

TEST_F(ServerProgram, StartedOnDemandItLeavesWhenUnused) {
    ASSERT_TRUE(StartServer({"--activated", "--linger", "1"}));
    {
        CAutoModbus m;
        ASSERT_EQ(m.Create("", "com1"), S_OK);
        // While a client object lives, the server stays.
        EXPECT_EQ(m_server.Wait(1500), -1);
        ASSERT_TRUE(m.Connect());
    }
    EXPECT_EQ(m_server.Wait(5000), 0);
}
}  // namespace
