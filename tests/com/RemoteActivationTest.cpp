// Activation over TCP on 127.0.0.1: the key handshake both ways, the
// failures a client can meet, and the connection's life with a server in
// this process (so both ends run under the sanitizers).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ComTestSupport.h"
#include "FakeClassFactory.h"
#include "FakeSerialPort.h"
#include "platform/com/ComApi.h"
#include "platform/com/RpcFrame.h"
#include "platform/com/RpcServer.h"
#include "platform/com/RpcSettings.h"
#include "transport/ModbusSerialServerPs.h"

namespace {
using Clock = std::chrono::steady_clock;

const char kKey[] = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff\n";
const char kOtherKey[] = "ffeeddccbbaa99887766554433221100ffeeddccbbaa99887766554433221100";

std::u16string Wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

class RemoteActivation : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(RegisterModbusSerialServerPs(), S_OK);
        CoSetRuntimeDirectory(m_dir.Path().c_str());
        CoSetCallTimeout(10000);
        m_strKey = m_dir.WriteFile("access.key", kKey, 0600);
        CoSetAccessKeyFile(m_strKey.c_str());
        // Registered for local servers only, so the client here goes over TCP.
        ASSERT_EQ(CoRegisterClassObject(CLSID_ModbusSerialServer, &m_factory, CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &m_dwCookie),
                  S_OK);
        WORD nPort = 0;
        ASSERT_EQ(m_server.ListenTcp("127.0.0.1:0", m_strKey.c_str(), &nPort), S_OK);
        ASSERT_NE(nPort, 0);
        m_strName = u"127.0.0.1:" + Wide(std::to_string(nPort));
    }
    void TearDown() override {
        m_server.Stop();
        EXPECT_EQ(CFakeSerialPort::s_nLiveObjects, 0);
        CoRevokeClassObject(m_dwCookie);
        CoSetAccessKeyFile(nullptr);
        CoSetRuntimeDirectory(nullptr);
        CoSetCallTimeout(0);
        CoUninitialize();
    }

    static IModbusSerialPort* Activate(const std::u16string& strName, HRESULT* phr) {
        COSERVERINFO info{0, const_cast<OLECHAR*>(strName.c_str()), nullptr, 0};
        MULTI_QI qi{&IID_IModbusSerialPort, nullptr, S_OK};
        *phr = CoCreateInstanceEx(CLSID_ModbusSerialServer, nullptr, CLSCTX_REMOTE_SERVER, &info, 1,
                                  &qi);
        return SUCCEEDED(*phr) ? static_cast<IModbusSerialPort*>(qi.pItf) : nullptr;
    }

    CTempDir m_dir;
    std::string m_strKey;
    std::u16string m_strName;
    CFakeClassFactory m_factory;
    DWORD m_dwCookie = 0;
    CRpcServer m_server;
};

TEST_F(RemoteActivation, RightKeyServesAndReleaseReachesTheServer) {
    HRESULT hr;
    IModbusSerialPort* pPort = Activate(m_strName, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(pPort, nullptr);
    EXPECT_EQ(pPort->put_BaudRate(38400), S_OK);
    LONG n = 0;
    EXPECT_EQ(pPort->get_BaudRate(&n), S_OK);
    EXPECT_EQ(n, 38400);
    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(pPort->get_TcpServer(&pDispatch), S_OK);
    IModbusTcpServer* pTcp = nullptr;
    ASSERT_EQ(pDispatch->QueryInterface(IID_IModbusTcpServer, reinterpret_cast<void**>(&pTcp)),
              S_OK);
    VARIANT_BOOL vb = VARIANT_FALSE;
    EXPECT_EQ(pTcp->Start(&vb), S_OK);
    EXPECT_EQ(vb, VARIANT_TRUE);
    EXPECT_EQ(m_server.GetConnectionCount(), 1u);
    EXPECT_EQ(m_server.GetObjectCount(), 3u);  // the port, the dispatch and the TCP server
    EXPECT_EQ(CFakeSerialPort::s_nLiveObjects, 2);
    pDispatch->Release();
    pTcp->Release();
    EXPECT_TRUE(WaitUntil([this] { return m_server.GetObjectCount() == 1; }, 2000));
    pPort->Release();
    // The last proxy closes the connection and the server forgets everything.
    EXPECT_TRUE(WaitUntil(
        [this] {
            return m_server.GetConnectionCount() == 0 && CFakeSerialPort::s_nLiveObjects == 0;
        },
        2000));
}

TEST_F(RemoteActivation, WrongMissingOrExposedKeysAreDenied) {
    struct {
        std::string strFile;
        const char* pszWhat;
    } cases[] = {{m_dir.WriteFile("other.key", kOtherKey, 0600), "another key"},
                 {m_dir.Path() + "/none.key", "no key file"},
                 {m_dir.WriteFile("open.key", kKey, 0644), "a key others may read"},
                 {m_dir.WriteFile("short.key", "00112233", 0600), "a key too short"},
                 {m_dir.WriteFile("bad.key", std::string(64, 'x'), 0600), "not hexadecimal"}};
    for (const auto& c : cases) {
        CoSetAccessKeyFile(c.strFile.c_str());
        HRESULT hr;
        EXPECT_EQ(Activate(m_strName, &hr), nullptr) << c.pszWhat;
        EXPECT_EQ(hr, E_ACCESSDENIED) << c.pszWhat;
    }
    EXPECT_TRUE(WaitUntil([this] { return m_server.GetConnectionCount() == 0; }, 2000));
    EXPECT_EQ(CFakeSerialPort::s_nLiveObjects, 0);
}

TEST_F(RemoteActivation, UnreachableServersAreUnavailable) {
    int h = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(h, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::getsockname(h, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    ::close(h);  // nothing listens there now
    HRESULT hr;
    auto start = Clock::now();
    std::u16string strClosed = u"127.0.0.1:" + Wide(std::to_string(ntohs(addr.sin_port)));
    EXPECT_EQ(Activate(strClosed, &hr), nullptr);
    EXPECT_EQ(hr, RPC_S_SERVER_UNAVAILABLE_HR);
    EXPECT_EQ(Activate(u"127.0.0.1:notaport", &hr), nullptr);
    EXPECT_EQ(hr, RPC_S_SERVER_UNAVAILABLE_HR);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
              1000);
}

TEST_F(RemoteActivation, ServersListenOnTcpOnlyWithAPrivateKey) {
    CRpcServer server;
    WORD nPort = 0;
    EXPECT_EQ(server.ListenTcp("127.0.0.1:0", (m_dir.Path() + "/none.key").c_str(), &nPort),
              E_ACCESSDENIED);
    std::string strOpen = m_dir.WriteFile("open.key", kKey, 0640);
    EXPECT_EQ(server.ListenTcp("127.0.0.1:0", strOpen.c_str(), &nPort), E_ACCESSDENIED);
    EXPECT_EQ(server.ListenTcp("127.0.0.1:99999", m_strKey.c_str(), &nPort), E_INVALIDARG);

    // The server program: no TCP without a key, and with one it serves.
    {
        CTestServerProcess keyless({"--listen", "127.0.0.1:0"}, m_dir.Path());
        EXPECT_EQ(keyless.ReadLine(5000), "error 0x80070005");
    }
    CTestServerProcess process({"--listen", "127.0.0.1:0", "--key-file", m_strKey}, m_dir.Path());
    std::string strLine = process.ReadLine(5000);
    ASSERT_EQ(strLine.rfind("port ", 0), 0u) << strLine;
    HRESULT hr;
    IModbusSerialPort* pPort = Activate(u"127.0.0.1:" + Wide(strLine.substr(5)), &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_NE(RunFakeCommand(pPort, 0x04), ::getpid());
    pPort->Release();
}

TEST_F(RemoteActivation, TwoThreadsShareTheConnection) {
    HRESULT hr;
    IModbusSerialPort* pPort = Activate(m_strName, &hr);
    ASSERT_NE(pPort, nullptr);
    std::atomic<int> nBad{0};
    auto worker = [&](LONG nThread) {
        for (LONG i = 0; i < 200; ++i) {
            VARIANT request = MakeArray(VT_I4, 0, {nThread, i, -i});
            VARIANT response;
            VariantInit(&response);
            VARIANT extra;
            VariantInit(&extra);
            extra.vt = VT_I4;
            extra.lVal = i;
            LONG nStatus = 0;
            HRESULT hrCall = pPort->Transfer(request, 3, &response, 1, &extra, &nStatus);
            if (FAILED(hrCall) || ArrayValues(response) != std::vector<LONG>{nThread, i, -i} ||
                extra.lVal != i + 1 || nStatus != 3001) {
                ++nBad;
            }
            VariantClear(&request);
            VariantClear(&response);
        }
    };
    std::thread first(worker, 1);
    std::thread second(worker, 2);
    first.join();
    second.join();
    EXPECT_EQ(nBad, 0);
    pPort->Release();
}

// Two calls at once, each on its own thread and waiting for the other; the
// server reports how many it saw running together.
LONG MostTransfersAtOnce(IModbusSerialPort* pPort) {
    RunFakeCommand(pPort, 0x05);
    auto slowCall = [pPort] {
        VARIANT slow = MakeArray(VT_UI1, 0, {FAKE_COMMAND, 0x06, 0xE8, 0x03});  // 1000 ms
        VARIANT response;
        VariantInit(&response);
        LONG nStatus;
        pPort->Transfer(slow, 4, &response, 4, nullptr, &nStatus);
        VariantClear(&slow);
        VariantClear(&response);
    };
    std::thread first(slowCall);
    std::thread second(slowCall);
    first.join();
    second.join();
    return RunFakeCommand(pPort, 0x05);
}

TEST_F(RemoteActivation, CallsRunSideBySideUnlessTheServerAsksOtherwise) {
    HRESULT hr;
    IModbusSerialPort* pPort = Activate(m_strName, &hr);
    ASSERT_NE(pPort, nullptr);
    EXPECT_EQ(MostTransfersAtOnce(pPort), 2);
    pPort->Release();
    m_server.Stop();

    m_server.SetOneCallAtATime(true);
    WORD nPort = 0;
    ASSERT_EQ(m_server.ListenTcp("127.0.0.1:0", m_strKey.c_str(), &nPort), S_OK);
    pPort = Activate(u"127.0.0.1:" + Wide(std::to_string(nPort)), &hr);
    ASSERT_NE(pPort, nullptr);
    EXPECT_EQ(MostTransfersAtOnce(pPort), 1);
    pPort->Release();
}

TEST_F(RemoteActivation, CallOverTheTimeLimitGivesUpTheConnection) {
    CoSetCallTimeout(200);
    HRESULT hr;
    IModbusSerialPort* pPort = Activate(m_strName, &hr);
    ASSERT_NE(pPort, nullptr);
    VARIANT slow = MakeArray(VT_UI1, 0, {FAKE_COMMAND, 0x02, 0x58, 0x02});  // 600 ms
    VARIANT response;
    VariantInit(&response);
    LONG nStatus;
    auto start = Clock::now();
    EXPECT_EQ(pPort->Transfer(slow, 4, &response, 4, nullptr, &nStatus), ERROR_TIMEOUT_HR);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
              550);
    LONG n;
    EXPECT_EQ(pPort->get_Port(&n), RPC_E_DISCONNECTED);
    VariantClear(&slow);
    pPort->Release();
}

TEST_F(RemoteActivation, StoppedServerDisconnectsItsClients) {
    HRESULT hr;
    IModbusSerialPort* pPort = Activate(m_strName, &hr);
    ASSERT_NE(pPort, nullptr);
    EXPECT_EQ(CFakeSerialPort::s_nLiveObjects, 1);
    m_server.Stop();
    EXPECT_EQ(CFakeSerialPort::s_nLiveObjects, 0);
    EXPECT_EQ(m_server.GetObjectCount(), 0u);
    LONG n;
    EXPECT_EQ(pPort->get_Port(&n), RPC_E_DISCONNECTED);
    pPort->Release();
}

}  // namespace
