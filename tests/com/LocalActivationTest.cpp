// Activation of the test server on this machine: start on demand, every
// member across the wire, one proxy shared by threads, reference counts
// across processes, and every way the server can fail or vanish.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/com/ComApi.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ErrorInfo.h"
#include "platform/com/rpc/RpcFrame.h"
#include "platform/com/rpc/RpcFrameReader.h"
#include "platform/com/rpc/RpcSettings.h"
#include "platform/com/rpc/RpcSocket.h"
#include "serialapi/ModbusSerialServerPs.h"
#include "tests/com/ComTestSupport.h"
#include "tests/support/FakeSerialPort.h"
#include "tests/support/GreetingServer.h"
#include "tests/support/ScopedEnv.h"

namespace {
using Clock = std::chrono::steady_clock;
using I = IModbusSerialPort;
using T = IModbusTcpServer;

// A property read through the proxy; -99999 when the call fails.
template <class Itf, class T>
LONG Get(std::type_identity_t<Itf>* p, HRESULT (Itf::*get)(T*)) {
    T value{};
    return SUCCEEDED((p->*get)(&value)) ? value : -99999;
}

// A property set through the proxy and read back.
template <class Itf, class P, class T>
LONG RoundTrip(std::type_identity_t<Itf>* p, HRESULT (Itf::*put)(P), HRESULT (Itf::*get)(T*),
               LONG n) {
    return SUCCEEDED((p->*put)(static_cast<P>(n))) ? Get(p, get) : -99999;
}

class LocalActivation : public CComTest {
protected:
    void SetUp() override {
        CComTest::SetUp();
        // Relative: found beside the test executable.
        CoRegisterLocalServer(CLSID_ModbusSerialServer, "regprobe-test-com-server");
    }
    void TearDown() override {
        CoRegisterLocalServer(CLSID_ModbusSerialServer, nullptr);
        CComTest::TearDown();
    }

    static CComPtr<IModbusSerialPort> Activate(HRESULT* phr = nullptr) {
        MULTI_QI qi{&IID_IModbusSerialPort, nullptr, S_OK};
        HRESULT hr = CoCreateInstanceEx(CLSID_ModbusSerialServer, nullptr, CLSCTX_LOCAL_SERVER,
                                        nullptr, 1, &qi);
        if (phr != nullptr) {
            *phr = hr;
        }
        CComPtr<IModbusSerialPort> pPort;
        if (SUCCEEDED(hr)) {
            pPort.Attach(static_cast<IModbusSerialPort*>(qi.pItf));
        }
        return pPort;
    }
    std::string SocketPath() const {
        return m_dir.Path() + "/" + RpcGuidToName(CLSID_ModbusSerialServer) + ".sock";
    }
};

TEST_F(LocalActivation, StartsTheServerOnDemandAndRoundTripsEveryMember) {
    HRESULT hr;
    CComPtr<IModbusSerialPort> pPort = Activate(&hr);
    ASSERT_EQ(hr, S_OK);
    struct stat st {};
    ASSERT_EQ(::stat(SocketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(RunFakeCommand(pPort, 0x04), ::getpid());  // another process

    // Values of their own, none a default, so that a crossed wire shows.
    EXPECT_EQ(RoundTrip(pPort, &I::put_Port, &I::get_Port, 3), 3);
    EXPECT_EQ(RoundTrip(pPort, &I::put_BaudRate, &I::get_BaudRate, 19200), 19200);
    EXPECT_EQ(RoundTrip(pPort, &I::put_Parity, &I::get_Parity, -2), -2);
    EXPECT_EQ(RoundTrip(pPort, &I::put_FlowControl, &I::get_FlowControl, 5), 5);
    EXPECT_EQ(RoundTrip(pPort, &I::put_SilentInterval, &I::get_SilentInterval, 7), 7);
    EXPECT_EQ(RoundTrip(pPort, &I::put_Timeout, &I::get_Timeout, 2500), 2500);
    EXPECT_EQ(RoundTrip(pPort, &I::put_StopBits, &I::get_StopBits, 2), 2);
    EXPECT_EQ(RoundTrip(pPort, &I::put_Mode, &I::get_Mode, 1), 1);
    EXPECT_EQ(RoundTrip(pPort, &I::put_ByteSize, &I::get_ByteSize, 6), 6);
    EXPECT_EQ(RoundTrip(pPort, &I::put_ErrorDelay, &I::get_ErrorDelay, -1), -1);
    EXPECT_EQ(pPort->get_Port(nullptr), E_POINTER);

    EXPECT_EQ(Get(pPort, &I::get_Active), VARIANT_FALSE);
    EXPECT_EQ(Get(pPort, &I::Connect), VARIANT_TRUE);
    EXPECT_EQ(Get(pPort, &I::get_Active), VARIANT_TRUE);

    const CComBSTR name("com5");
    SHORT s = 0;
    EXPECT_EQ(pPort->SelectPort(name, 1, &s), S_OK);
    EXPECT_EQ(s, 5);
    EXPECT_EQ(name.ToString(), "com5");  // the caller keeps its string
    EXPECT_EQ(pPort->SelectPort(nullptr, 1, &s), S_OK);
    EXPECT_EQ(s, -1);

    // Interfaces the proxy does not know are asked of the server.
    void* pv = nullptr;
    EXPECT_EQ(pPort->QueryInterface(IID_IModbusTcpServer, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    CComPtr<IModbusTcpServer> pTcp = TcpServerOf(pPort);
    ASSERT_NE(pTcp, nullptr);
    CComBSTR address("192.168.1.7");
    EXPECT_EQ(pTcp->put_Address(address), S_OK);
    EXPECT_EQ(pTcp->get_Address(&address), S_OK);
    EXPECT_EQ(address.ToString(), "192.168.1.7");
    EXPECT_EQ(RoundTrip(pTcp, &T::put_Port, &T::get_Port, 1502), 1502);
    EXPECT_EQ(Get(pTcp, &T::get_Running), VARIANT_FALSE);
    EXPECT_EQ(Get(pTcp, &T::Start), VARIANT_TRUE);
    EXPECT_EQ(Get(pTcp, &T::get_Running), VARIANT_TRUE);
    EXPECT_EQ(Get(pTcp, &T::Stop), VARIANT_TRUE);
}

TEST_F(LocalActivation, TransfersVariantsBothWays) {
    CComPtr<IModbusSerialPort> pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    VARIANT response, extra;
    VariantInit(&response);
    LONG nStatus = 0;
    const std::vector<LONG> values = {1, 3, 0, 200};
    for (VARTYPE vt : {VT_UI1, VT_I2, VT_I4}) {
        VARIANT request = MakeArray(vt, 0, values);
        extra.vt = VT_I2;
        extra.iVal = 41;
        ASSERT_EQ(pPort->Transfer(request, 4, &response, 9, &extra, &nStatus), S_OK);
        EXPECT_EQ(response.vt, VT_ARRAY | vt);
        EXPECT_EQ(ArrayValues(response), values);
        EXPECT_EQ(ArrayValues(request), values);  // the request stays the caller's
        EXPECT_EQ(nStatus, 4009);
        EXPECT_EQ(extra.iVal, 42);
        VariantClear(&request);
        VariantClear(&response);
    }

    // An empty extra comes back as a string; references are read and written through.
    VARIANT request = MakeArray(VT_UI1, 0, {1, 2, 3});
    VariantInit(&extra);
    ASSERT_EQ(pPort->Transfer(request, 3, &response, 3, &extra, &nStatus), S_OK);
    EXPECT_EQ(extra.vt, VT_BSTR);
    EXPECT_EQ(BstrToString(extra.bstrVal), "extra");
    VariantClear(&extra);
    VariantClear(&response);
    VARIANT byRequest;
    byRequest.vt = VT_BYREF | VT_VARIANT;
    byRequest.pvarVal = &request;
    SHORT nExtra = 5;
    extra.vt = VT_BYREF | VT_I2;
    extra.piVal = &nExtra;
    ASSERT_EQ(pPort->Transfer(byRequest, 3, &response, 3, &extra, &nStatus), S_OK);
    EXPECT_EQ(ArrayValues(response), (std::vector<LONG>{1, 2, 3}));
    EXPECT_EQ(extra.vt, VT_BYREF | VT_I2);
    EXPECT_EQ(nExtra, 6);
    VariantClear(&response);

    // A null extra reaches the object; out-values travel with a failure too.
    ASSERT_EQ(pPort->Transfer(request, 3, &response, 2, nullptr, &nStatus), S_OK);
    EXPECT_EQ(nStatus, 3502);
    VariantClear(&response);
    EXPECT_EQ(pPort->Transfer(request, -1, &response, 2, nullptr, &nStatus), FAKE_TRANSFER_FAILED);
    EXPECT_EQ(nStatus, 123);
    EXPECT_EQ(response.vt, VT_EMPTY);
    // What cannot travel is refused before it leaves.
    VARIANT real;
    real.vt = VT_R8;
    EXPECT_EQ(pPort->Transfer(real, 1, &response, 1, nullptr, &nStatus), DISP_E_BADVARTYPE);
    VariantClear(&request);
}

TEST_F(LocalActivation, TwoThreadsCallThroughOneProxy) {
    CComPtr<IModbusSerialPort> pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    std::atomic<int> nBad{0};
    auto worker = [&](BYTE byThread) {
        for (int i = 0; i < 250; ++i) {
            // Some calls sleep on the server (3 ms), so answers overtake each other.
            std::vector<LONG> bytes = {byThread, i & 0xFF, byThread, 0, byThread, i >> 8};
            if (i % 25 == byThread) {
                bytes = {FAKE_COMMAND, 0x02, 3, 0, byThread, i >> 8};
            }
            std::vector<LONG> answer;
            LONG nStatus = 0;
            if (FAILED(TransferBytes(pPort, bytes, i, &answer, &nStatus)) || answer != bytes ||
                nStatus != 6500 + i || Get(pPort, &I::get_BaudRate) != 9600) {
                ++nBad;
            }
        }
    };
    std::thread first(worker, 1);
    std::thread second(worker, 2);
    first.join();
    second.join();
    EXPECT_EQ(nBad, 0);
}

TEST_F(LocalActivation, ReferencesAreCountedAcrossProcesses) {
    // A child, forked before this process has any connection, takes three
    // objects and leaves without releasing them.
    int ready[2], leave[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(leave), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(leave[1]);
        CComPtr<IModbusSerialPort> pA = Activate();
        CComPtr<IModbusSerialPort> pB = Activate();
        CComPtr<IDispatch> pDispatch;
        char c =
            pA != nullptr && pB != nullptr && SUCCEEDED(pA->get_TcpServer(&pDispatch)) ? 'r' : 'f';
        ssize_t n = ::write(ready[1], &c, 1);
        n += ::read(leave[0], &c, 1);  // 0 once the parent closes its end
        ::_exit(n == 1 ? 0 : 1);
    }
    ::close(ready[1]);
    ::close(leave[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);  // a child that fails early closes the pipe
    ASSERT_EQ(c, 'r');
    ::close(ready[0]);

    CComPtr<IModbusSerialPort> pFirst = Activate();
    CComPtr<IModbusSerialPort> pSecond = Activate();
    ASSERT_NE(pFirst, nullptr);
    ASSERT_NE(pSecond, nullptr);
    CComPtr<IDispatch> pDispatch;
    ASSERT_EQ(pFirst->get_TcpServer(&pDispatch), S_OK);
    EXPECT_EQ(RunFakeCommand(pSecond, 0x01), 6);
    // The port still holds its TCP server; releasing the port frees both.
    pDispatch.Release();
    EXPECT_EQ(RunFakeCommand(pSecond, 0x01), 6);
    pFirst.Release();
    EXPECT_EQ(RunFakeCommand(pSecond, 0x01), 4);
    ::close(leave[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WaitUntil([&pSecond] { return RunFakeCommand(pSecond, 0x01) == 1; }, 3000));
}

TEST_F(LocalActivation, ClientsRacingToStartTheServerShareOneThatLeavesWhenIdle) {
    int pids[2];
    ASSERT_EQ(::pipe(pids), 0);
    pid_t children[2];
    for (pid_t& child : children) {
        child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CComPtr<IModbusSerialPort> pPort = Activate();
            LONG nServer = pPort != nullptr ? RunFakeCommand(pPort, 0x04) : -1;
            ssize_t n = ::write(pids[1], &nServer, sizeof nServer);
            ::_exit(n == sizeof nServer ? 0 : 1);
        }
    }
    ::close(pids[1]);
    LONG servers[2] = {-1, -1};
    for (LONG& nServer : servers) {
        ASSERT_EQ(::read(pids[0], &nServer, sizeof nServer), ssize_t(sizeof nServer));
    }
    ::close(pids[0]);
    for (pid_t child : children) {
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
    }
    EXPECT_GT(servers[0], 0);
    EXPECT_EQ(servers[0], servers[1]);
    // Unused, the server leaves and takes its socket along.
    std::string strSocket = SocketPath();
    EXPECT_TRUE(WaitUntil([&] { return ::access(strSocket.c_str(), F_OK) != 0; }, 5000));
}

TEST_F(LocalActivation, KilledServerFailsPendingAndLaterCallsAtOnce) {
    CComPtr<IModbusSerialPort> pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    LONG nFirstServer = RunFakeCommand(pPort, 0x04);
    HRESULT hrPending = S_OK;
    long nPendingMillis = 0;
    std::thread pending([&] {
        auto start = Clock::now();
        hrPending = TransferBytes(pPort, {FAKE_COMMAND, 0x02, 0xB8, 0x0B});  // 3 s
        nPendingMillis = MillisSince(start);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto start = Clock::now();
    EXPECT_EQ(RunFakeCommand(pPort, 0x03), -1);  // the server kills itself mid-call
    EXPECT_LT(MillisSince(start), 2000);
    pending.join();
    EXPECT_EQ(hrPending, RPC_E_DISCONNECTED);
    EXPECT_LT(nPendingMillis, 2000);
    start = Clock::now();
    LONG n;
    EXPECT_EQ(pPort->get_Port(&n), RPC_E_DISCONNECTED);
    EXPECT_LT(MillisSince(start), 100);
    pPort.Release();
    // The next activation starts a new server.
    pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    EXPECT_NE(RunFakeCommand(pPort, 0x04), nFirstServer);
}

TEST_F(LocalActivation, FailuresGiveTheSystemsCodes) {
    // The second program runs but never listens.
    const struct {
        const char* pszServer;
        long nMillis;
    } servers[] = {{"/nonexistent/regprobe-server", 1000}, {"/bin/true", 3000}};
    HRESULT hr;
    for (const auto& s : servers) {
        CoRegisterLocalServer(CLSID_ModbusSerialServer, s.pszServer);
        auto start = Clock::now();
        EXPECT_EQ(Activate(&hr), nullptr);
        EXPECT_EQ(hr, CO_E_SERVER_EXEC_FAILURE) << s.pszServer;
        EXPECT_LT(MillisSince(start), s.nMillis) << s.pszServer;
    }
    // A third starts and hangs: it is ended before the failure is reported.
    const std::string strHung = m_dir.Path() + "/hung-server";
    const std::string strPid = m_dir.Path() + "/hung.pid";
    std::ofstream(strHung) << "#!/bin/sh\necho $$ > " << strPid << "\nexec sleep 60\n";
    ASSERT_EQ(::chmod(strHung.c_str(), 0700), 0);
    CoRegisterLocalServer(CLSID_ModbusSerialServer, strHung.c_str());
    EXPECT_EQ(Activate(&hr), nullptr);
    EXPECT_EQ(hr, CO_E_SERVER_EXEC_FAILURE);
    pid_t pidHung = 0;
    std::ifstream(strPid) >> pidHung;
    ASSERT_GT(pidHung, 0);
    // Dead: gone, or a zombie until whoever adopted it reaps it.
    const auto dead = [&] {
        std::ifstream stat("/proc/" + std::to_string(pidHung) + "/stat");
        std::string strPid, strName, strState;
        return !(stat >> strPid >> strName >> strState) || strState == "Z";
    };
    EXPECT_TRUE(WaitUntil(dead, 2000)) << "the hung server " << pidHung << " was left running";
    if (::kill(pidHung, 0) == 0) {
        ::kill(pidHung, SIGKILL);
    }

    // A runtime directory others may enter is not used.
    std::string strOpen = m_dir.Path() + "/open";
    ASSERT_EQ(::mkdir(strOpen.c_str(), 0755), 0);
    ::chmod(strOpen.c_str(), 0755);
    CoSetRuntimeDirectory(strOpen.c_str());
    EXPECT_EQ(Activate(&hr), nullptr);
    EXPECT_EQ(hr, E_ACCESSDENIED);
}

// A server of another protocol version already serving the runtime
// directory is named, with both versions, and left alone; once it is gone
// a server of this version starts and serves.
TEST_F(LocalActivation, AServerOfAnotherVersionIsNamedNotUsed) {
    HRESULT hr;
    for (const WORD wVersion : {WORD(RPC_VERSION - 1), WORD(RPC_VERSION + 1)}) {
        CGreetingServer other(m_dir.Path(), wVersion);
        ASSERT_TRUE(other.IsListening());
        EXPECT_EQ(Activate(&hr), nullptr);
        EXPECT_EQ(hr, RPC_E_VERSION_MISMATCH);
        EXPECT_EQ(TakeErrorDescription(),
                  "The serial-port server speaks protocol version " + std::to_string(wVersion) +
                      "; this program speaks version " + std::to_string(RPC_VERSION) + ".");
        EXPECT_EQ(TakeErrorDescription(), "");  // taken
        other.Stop();
        EXPECT_EQ(other.GetGreeted(), 1);
        EXPECT_EQ(other.GetFramesReceived(), 0);
    }
    CComPtr<IModbusSerialPort> pPort = Activate(&hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(Get(pPort, &I::get_BaudRate), 9600);
    EXPECT_EQ(TakeErrorDescription(), "");
}

// The server runs nothing of a client until it has answered the greeting
// as a client of the same version. A client it serves gets no object it was
// never given, and one frame too large ends its connection; everyone else
// is still served.
TEST_F(LocalActivation, TheServerServesClientsOfItsOwnVersionOnly) {
    CComPtr<IModbusSerialPort> pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    auto greeting = [](DWORD dwMagic, WORD wVersion) {
        CRpcFrameWriter hello(RPC_MSG_HELLO, 0);
        hello.PutU32(dwMagic);
        hello.PutU16(wVersion);
        return hello;
    };
    const struct {
        const char* pszCase;
        std::optional<CRpcFrameWriter> greeting;
        bool bServed;
    } clients[] = {
        {"this version", greeting(RPC_MAGIC, RPC_VERSION), true},
        {"a later version", greeting(RPC_MAGIC, RPC_VERSION + 1), false},
        {"an earlier version", greeting(RPC_MAGIC, RPC_VERSION - 1), false},
        {"another protocol", greeting(RPC_MAGIC ^ 1, RPC_VERSION), false},
        {"no greeting", std::nullopt, false},
    };
    for (auto c : clients) {
        CRpcSocket raw;
        ASSERT_EQ(raw.ConnectUnix(SocketPath()), 0);
        std::vector<BYTE> body;
        ASSERT_EQ(raw.ReceiveFrame(body, 2000), CRpcSocket::RECEIVE_OK) << c.pszCase;
        WORD wVersion = 0;
        ASSERT_TRUE(RpcReadHello(body, &wVersion));
        EXPECT_EQ(wVersion, RPC_VERSION);
        if (c.greeting) {
            ASSERT_TRUE(raw.SendFrame(*c.greeting, 1000)) << c.pszCase;
        }
        // A call on an object this connection never got.
        CRpcFrameWriter call(RPC_MSG_CALL, 42);
        call.PutU32(1);
        call.PutGuid(IID_IModbusSerialPort);
        call.PutU16(SERIAL_SLOT_GET_PORT);
        raw.SendFrame(call, 1000);  // a refused client may be gone already
        const CRpcSocket::EReceive got = raw.ReceiveFrame(body, 3000);
        if (!c.bServed) {
            EXPECT_EQ(got, CRpcSocket::RECEIVE_CLOSED) << c.pszCase;
            continue;
        }
        ASSERT_EQ(got, CRpcSocket::RECEIVE_OK) << c.pszCase;
        CRpcFrameReader answer(body.data(), body.size());
        BYTE byType;
        DWORD dwCallId;
        LONG hr;
        ASSERT_TRUE(answer.GetU8(byType) && answer.GetU32(dwCallId) && answer.GetI32(hr));
        EXPECT_EQ(byType, RPC_MSG_ANSWER);
        EXPECT_EQ(dwCallId, 42u);
        EXPECT_EQ(hr, RPC_E_DISCONNECTED);
        const BYTE huge[] = {0xFF, 0xFF, 0xFF, 0xFF, 1};
        ASSERT_TRUE(raw.SendAll(huge, sizeof huge, 1000));
        EXPECT_EQ(raw.ReceiveFrame(body, 2000), CRpcSocket::RECEIVE_CLOSED);
    }
    EXPECT_EQ(Get(pPort, &I::get_BaudRate), 9600);
}

// Without $XDG_RUNTIME_DIR the sockets live in the user's own cache, which
// nobody else can create first, never under a fixed name in /tmp.
TEST(RuntimeDirectory, FallsBackToTheUsersCache) {
    CTempDir home;
    CScopedEnv homeVar("HOME", home.Path().c_str()), runtime("XDG_RUNTIME_DIR", nullptr),
        cache("XDG_CACHE_HOME", nullptr), own(RPC_RUNTIME_DIR_VARIABLE, nullptr);
    std::string strDir;
    EXPECT_EQ(RpcGetRuntimeDirectory(&strDir), S_OK);
    EXPECT_EQ(strDir, home.Path() + "/.cache/regprobe-runtime");
    struct stat st {};
    ASSERT_EQ(::lstat(strDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const std::string strCache = home.Path() + "/elsewhere";
    cache.Set(strCache.c_str());
    EXPECT_EQ(RpcGetRuntimeDirectory(&strDir), S_OK);
    EXPECT_EQ(strDir, strCache + "/regprobe-runtime");
    // Opened to others, it is refused rather than used.
    ::chmod(strDir.c_str(), 0755);
    EXPECT_EQ(RpcGetRuntimeDirectory(&strDir), E_ACCESSDENIED);
}

}  // namespace
