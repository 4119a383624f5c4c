// Activation over TCP on 127.0.0.1: the key handshake both ways, the
// failures a client can meet, and the connection's life with a server in
// this process (so both ends run under the sanitizers).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/com/ComApi.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ErrorInfo.h"
#include "platform/com/rpc/RpcAccessKey.h"
#include "platform/com/rpc/RpcFrame.h"
#include "platform/com/rpc/RpcServer.h"
#include "platform/com/rpc/RpcSettings.h"
#include "platform/com/rpc/RpcSocket.h"
#include "serialapi/ModbusSerialServerPs.h"
#include "tests/com/ComTestSupport.h"
#include "tests/support/FakeSerialPort.h"
#include "tests/support/PeerSocket.h"

namespace {
using Clock = std::chrono::steady_clock;

const char kKey[] = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff\n";

class RemoteActivation : public CComTest {
protected:
    void SetUp() override {
        CComTest::SetUp();
        m_strKey = m_dir.WriteFile("access.key", kKey, 0600);
        CoSetAccessKeyFile(m_strKey.c_str());
        // Registered for local servers only, so the client here goes over TCP.
        ASSERT_EQ(CoRegisterClassObject(CLSID_ModbusSerialServer, &m_factory, CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &m_dwCookie),
                  S_OK);
        Listen();
    }
    void TearDown() override {
        m_server.Stop();
        EXPECT_EQ(g_nLiveFakes, 0);
        CoRevokeClassObject(m_dwCookie);
        CoSetAccessKeyFile(nullptr);
        CComTest::TearDown();
    }

    void Listen() {
        WORD nPort = 0;
        ASSERT_EQ(m_server.ListenTcp("127.0.0.1:0", m_strKey.c_str(), &nPort), S_OK);
        std::string strName = "127.0.0.1:" + std::to_string(nPort);
        m_strName.assign(strName.begin(), strName.end());
    }
    CComPtr<IModbusSerialPort> Activate(HRESULT* phr, const std::u16string& strName = u"") {
        COSERVERINFO info{0, const_cast<OLECHAR*>((strName.empty() ? m_strName : strName).c_str()),
                          nullptr, 0};
        MULTI_QI qi{&IID_IModbusSerialPort, nullptr, S_OK};
        *phr = CoCreateInstanceEx(CLSID_ModbusSerialServer, nullptr, CLSCTX_REMOTE_SERVER, &info, 1,
                                  &qi);
        CComPtr<IModbusSerialPort> pPort;
        if (SUCCEEDED(*phr)) {
            pPort.Attach(static_cast<IModbusSerialPort*>(qi.pItf));
        }
        return pPort;
    }

    std::string m_strKey;
    std::u16string m_strName;
    CFakeClassFactory m_factory;
    DWORD m_dwCookie = 0;
    CRpcServer m_server;
};

TEST_F(RemoteActivation, RightKeyServesAndReleaseReachesTheServer) {
    HRESULT hr;
    CComPtr<IModbusSerialPort> pPort = Activate(&hr);
    ASSERT_EQ(hr, S_OK);
    CComPtr<IDispatch> pDispatch;
    CComPtr<IModbusTcpServer> pTcp = TcpServerOf(pPort, &pDispatch);
    ASSERT_NE(pTcp, nullptr);
    EXPECT_EQ(m_server.GetConnectionCount(), 1u);
    EXPECT_EQ(m_server.GetObjectCount(), 3u);  // the port, the dispatch and the TCP server
    EXPECT_EQ(g_nLiveFakes, 2);
    pDispatch.Release();
    pTcp.Release();
    EXPECT_TRUE(WaitUntil([this] { return m_server.GetObjectCount() == 1; }, 2000));
    pPort.Release();
    // The last proxy closes the connection and the server forgets everything.
    EXPECT_TRUE(WaitUntil(
        [this] { return m_server.GetConnectionCount() == 0 && g_nLiveFakes == 0; }, 2000));
}

TEST_F(RemoteActivation, KeysAreCheckedOnBothSides) {
    // Files others or the group may read are refused on either side.
    const std::string strNone = m_dir.Path() + "/none.key";
    const std::string files[] = {
        m_dir.WriteFile("other.key", std::string(kKey).replace(0, 2, "ff"), 0600), strNone,
        m_dir.WriteFile("open.key", kKey, 0604), m_dir.WriteFile("short.key", "00112233", 0600),
        m_dir.WriteFile("bad.key", std::string(64, 'x'), 0600)};
    for (const std::string& strFile : files) {
        CoSetAccessKeyFile(strFile.c_str());
        HRESULT hr;
        EXPECT_EQ(Activate(&hr), nullptr) << strFile;
        EXPECT_EQ(hr, E_ACCESSDENIED) << strFile;
    }
    EXPECT_TRUE(WaitUntil([this] { return m_server.GetConnectionCount() == 0; }, 2000));

    // A server listens on TCP only with a key of its own.
    CRpcServer server;
    WORD nPort = 0;
    EXPECT_EQ(server.ListenTcp("127.0.0.1:0", strNone.c_str(), &nPort), E_ACCESSDENIED);
    const std::string strShared = m_dir.WriteFile("shared.key", kKey, 0640);
    EXPECT_EQ(server.ListenTcp("127.0.0.1:0", strShared.c_str(), &nPort), E_ACCESSDENIED);
    EXPECT_EQ(server.ListenTcp("127.0.0.1:99999", m_strKey.c_str(), &nPort), E_INVALIDARG);
}

// A keyed peer that greets as a server of a later version would: the client
// names both versions and sends nothing.
TEST_F(RemoteActivation, AServerOfAnotherVersionIsNamed) {
    CListener listener;
    int nFramesAfterGreeting = -1;
    std::thread peer([&] {
        CRpcSocket socket(listener.Accept());
        CRpcAccessKey key;
        if (FAILED(key.Load(m_strKey)) || FAILED(socket.StartTls(key, true, 2000, 4096))) {
            return;
        }
        CRpcFrameWriter hello(RPC_MSG_HELLO, 0);
        hello.PutU32(RPC_MAGIC);
        hello.PutU16(RPC_VERSION + 1);
        std::vector<BYTE> body;
        if (socket.SendFrame(hello, 2000)) {
            for (nFramesAfterGreeting = 0;
                 nFramesAfterGreeting < 16 &&
                 socket.ReceiveFrame(body, 2000) == CRpcSocket::RECEIVE_OK;
                 ++nFramesAfterGreeting) {
            }
        }
    });
    const std::string strName = "127.0.0.1:" + std::to_string(listener.Port());
    HRESULT hr;
    EXPECT_EQ(Activate(&hr, std::u16string(strName.begin(), strName.end())), nullptr);
    peer.join();
    EXPECT_EQ(hr, RPC_E_VERSION_MISMATCH);
    EXPECT_EQ(TakeErrorDescription(),
              "The serial-port server speaks protocol version " + std::to_string(RPC_VERSION + 1) +
                  "; this program speaks version " + std::to_string(RPC_VERSION) + ".");
    EXPECT_EQ(nFramesAfterGreeting, 0);
}

// Two calls at once, each on its own thread and waiting for the other; the
// server reports how many it saw running together.
LONG MostTransfersAtOnce(IModbusSerialPort* pPort) {
    RunFakeCommand(pPort, 0x04);
    g_nMostRunning = 0;
    auto slowCall = [pPort] { TransferBytes(pPort, {FAKE_COMMAND, 0x05, 0xE8, 0x03}); };  // 1 s
    std::thread first(slowCall);
    std::thread second(slowCall);
    first.join();
    second.join();
    return g_nMostRunning;
}

TEST_F(RemoteActivation, CallsRunSideBySideUnlessTheServerAsksOtherwise) {
    HRESULT hr;
    CComPtr<IModbusSerialPort> pPort = Activate(&hr);
    ASSERT_NE(pPort, nullptr);
    EXPECT_EQ(MostTransfersAtOnce(pPort), 2);
    pPort.Release();
    m_server.Stop();

    m_server.SetOneCallAtATime(true);
    Listen();
    pPort = Activate(&hr);
    ASSERT_NE(pPort, nullptr);
    EXPECT_EQ(MostTransfersAtOnce(pPort), 1);
}

// A call on its own runs on the thread that read it; one that comes while
// it lasts is still read and answered within milliseconds.
TEST_F(RemoteActivation, QuickCallsPassASlowOne) {
    HRESULT hr;
    CComPtr<IModbusSerialPort> pPort = Activate(&hr);
    ASSERT_NE(pPort, nullptr);
    std::thread slow([&pPort] { TransferBytes(pPort, {FAKE_COMMAND, 0x02, 0xE8, 0x03}); });  // 1 s
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        LONG n = 0;
        EXPECT_EQ(pPort->get_BaudRate(&n), S_OK);
        EXPECT_LT(MillisSince(start), 300);
    }
    slow.join();
}

TEST_F(RemoteActivation, CallOverTheTimeLimitGivesUpTheConnection) {
    CoSetCallTimeout(200);
    HRESULT hr;
    CComPtr<IModbusSerialPort> pPort = Activate(&hr);
    ASSERT_NE(pPort, nullptr);
    auto start = Clock::now();
    EXPECT_EQ(TransferBytes(pPort, {FAKE_COMMAND, 0x02, 0x58, 0x02}), ERROR_TIMEOUT_HR);  // 600 ms
    // The call's own time-out, and no more than a busy machine's delay.
    EXPECT_GE(MillisSince(start), 200);
    EXPECT_LT(MillisSince(start), 260);
    LONG n;
    EXPECT_EQ(pPort->get_Port(&n), RPC_E_DISCONNECTED);
}

TEST_F(RemoteActivation, StoppedServerDisconnectsItsClientsAndIsUnavailable) {
    HRESULT hr;
    CComPtr<IModbusSerialPort> pPort = Activate(&hr);
    ASSERT_NE(pPort, nullptr);
    EXPECT_EQ(g_nLiveFakes, 1);
    m_server.Stop();
    EXPECT_EQ(g_nLiveFakes, 0);
    EXPECT_EQ(m_server.GetObjectCount(), 0u);
    LONG n;
    EXPECT_EQ(pPort->get_Port(&n), RPC_E_DISCONNECTED);
    pPort.Release();

    // Nothing listens there now; a port that is none is as unavailable.
    auto start = Clock::now();
    EXPECT_EQ(Activate(&hr), nullptr);
    EXPECT_EQ(hr, RPC_S_SERVER_UNAVAILABLE_HR);
    EXPECT_EQ(Activate(&hr, u"127.0.0.1:notaport"), nullptr);
    EXPECT_EQ(hr, RPC_S_SERVER_UNAVAILABLE_HR);
    EXPECT_LT(MillisSince(start), 1000);
}

}  // namespace
