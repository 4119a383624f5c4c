// The two programs as their users run them: regprobe-sim on a pty it makes,
// and modbus-serial-server serving another process through the remoting
// layer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "ChildProcess.h"
#include "ServerTestKit.h"
#include "platform/com/ComApi.h"
#include "platform/com/RpcSettings.h"
#include "server/SerialPortObject.h"
#include "sim/SimSerialServer.h"
#include "transport/AutoModbus.h"
#include "transport/ModbusSerialServerPs.h"

namespace {
using Clock = std::chrono::steady_clock;

TEST(Programs, SimulatorOnItsOwnPty) {
    CChildProcess sim;
    ASSERT_TRUE(sim.Start({REGPROBE_SIM_PROGRAM, "--pty", "--mode", "ascii", "--holding", "0=5,6",
                           "--fault", "garbage=3@fn3"}));
    std::string strLine;
    ASSERT_TRUE(sim.ReadLine(strLine, 5000));
    ASSERT_EQ(strLine.rfind("pty /dev/", 0), 0u) << strLine;
    CPortMap map;
    map.SetPath(6, strLine.substr(4));
    auto pPorts = std::make_shared<CSerialPorts>(map);
    IModbusSerialPort* pPort = new CSerialPortObject(pPorts);
    pPort->put_Port(6);
    pPort->put_Mode(1);
    VARIANT_BOOL bOpen = VARIANT_FALSE;
    pPort->Connect(&bOpen);
    ASSERT_EQ(bOpen, VARIANT_TRUE);
    const CExchange x = Transfer(pPort, {1, 3, 0, 0, 0, 2});
    EXPECT_EQ(x.m_nStatus, 0);
    EXPECT_EQ(x.m_answer, (CByteArray{1, 3, 4, 0, 5, 0, 6}));
    pPort->Release();
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(3000), 0);

    CChildProcess bad;
    ASSERT_TRUE(bad.Start({REGPROBE_SIM_PROGRAM, "--pty", "--serial", "/dev/ttyS0"}));
    EXPECT_EQ(bad.Wait(3000), 2);
}

TEST(Programs, ServerHelpAndUsage) {
    CChildProcess help;
    ASSERT_TRUE(help.Start({REGPROBE_SERVER_PROGRAM, "--help"}));
    const std::string strHelp = help.ReadAll(3000);
    EXPECT_EQ(help.Wait(3000), 0);
    EXPECT_NE(strHelp.find("--config FILE"), std::string::npos);
    EXPECT_NE(strHelp.find("/dev/ttyUSB0"), std::string::npos);
    CChildProcess bad;
    ASSERT_TRUE(bad.Start({REGPROBE_SERVER_PROGRAM, "--port", "COM0=/dev/x"}));
    EXPECT_EQ(bad.Wait(3000), 2);
}

// modbus-serial-server started by the test on a private runtime directory,
// with COM1 on the simulator's pty.
class ServerProgram : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(::mkdtemp(m_szDir), nullptr);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CoSetRuntimeDirectory(m_szDir);
        RegisterModbusSerialServerPs();
        for (WORD i = 0; i < 10; ++i) {
            m_device.SetHoldingRegister(i, static_cast<WORD>(0x5500 + i));
        }
        ASSERT_TRUE(m_sim.StartPty()) << m_sim.GetError();
    }
    void TearDown() override {
        m_sim.Stop();
        CoSetRuntimeDirectory(nullptr);
        CoUninitialize();
        ::unlink(SocketPath().c_str());
        ::unlink((std::string(m_szDir) + "/" + RpcGuidToName(CLSID_ModbusSerialServer) + ".lock")
                     .c_str());
        ::rmdir(m_szDir);
    }
    std::string SocketPath() const {
        return std::string(m_szDir) + "/" + RpcGuidToName(CLSID_ModbusSerialServer) + ".sock";
    }
    // Starts the server and waits until it listens.
    bool StartServer(const std::vector<std::string>& extra) {
        std::vector<std::string> argv{REGPROBE_SERVER_PROGRAM, "--port",
                                      "COM1=" + std::string(m_sim.GetPath())};
        argv.insert(argv.end(), extra.begin(), extra.end());
        if (!m_server.Start(argv, {std::string(RPC_RUNTIME_DIR_VARIABLE) + "=" + m_szDir})) {
            return false;
        }
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        struct stat st {};
        while (::stat(SocketPath().c_str(), &st) != 0) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    char m_szDir[40] = "/tmp/regprobe-server-XXXXXX";
    CSimDevice m_device;
    CSimSerialServer m_sim{m_device};
    CChildProcess m_server;
};

TEST_F(ServerProgram, ServesAnotherProcess) {
    ASSERT_TRUE(StartServer({"--foreground"}));
    {
        CAutoModbus m;
        ASSERT_EQ(m.Create("", "com1"), S_OK);
        m.SetTimeout(500);
        EXPECT_EQ(m.GetTimeout(), 500);
        ASSERT_TRUE(m.Connect());
        EXPECT_TRUE(m.IsConnected());
        CWordArray values(3);
        ASSERT_EQ(m.ReadOutputRegisters(1, 2, 3, values), 0);
        EXPECT_EQ(values, (CWordArray{0x5502, 0x5503, 0x5504}));
        EXPECT_EQ(m.PresetSingleRegister(1, 9, 0x0BAD), 0);
        EXPECT_EQ(m_device.GetHoldingRegister(9), 0x0BAD);

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
        const int hSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(nPort));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval tv{2, 0};
        ::setsockopt(hSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ASSERT_EQ(::connect(hSocket, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        const BYTE request[] = {0, 5, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
        ::send(hSocket, request, sizeof request, MSG_NOSIGNAL);
        BYTE answer[11] = {};
        EXPECT_EQ(::recv(hSocket, answer, sizeof answer, MSG_WAITALL), 11);
        EXPECT_EQ(answer[10], 0x00);
        EXPECT_EQ(answer[9], 0x55);
        ::close(hSocket);
        m.m_pTcpServer->Stop(&bRunning);
    }
    m_server.Signal(SIGTERM);
    EXPECT_EQ(m_server.Wait(5000), 0);
}

TEST_F(ServerProgram, ServesRemoteClientsThatHoldTheKey) {
    const std::string strKey = std::string(m_szDir) + "/access.key";
    std::ofstream(strKey) << "00112233445566778899aabbccddeeff\n";
    ::chmod(strKey.c_str(), 0600);
    ASSERT_TRUE(StartServer({"--listen", "127.0.0.1:0", "--key-file", strKey}));
    std::string strLine;
    ASSERT_TRUE(m_server.ReadLine(strLine, 5000));
    const std::string strPrefix = "listening on 127.0.0.1:0 port ";
    ASSERT_EQ(strLine.rfind(strPrefix, 0), 0u) << strLine;
    CoSetAccessKeyFile(strKey.c_str());
    {
        CAutoModbus m;
        ASSERT_EQ(m.Create("127.0.0.1:" + strLine.substr(strPrefix.size()), "com1"), S_OK);
        ASSERT_TRUE(m.Connect());
        CWordArray values(1);
        EXPECT_EQ(m.ReadOutputRegisters(1, 7, 1, values), 0);
        EXPECT_EQ(values[0], 0x5507);
    }
    CoSetAccessKeyFile(nullptr);
    ::unlink(strKey.c_str());
    m_server.Signal(SIGTERM);
    EXPECT_EQ(m_server.Wait(5000), 0);
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
