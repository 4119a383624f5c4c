// Activation of the test server on this machine: start on demand, every
// member across the wire, sharing one proxy between threads, reference
// counts across processes, and every way the server can fail or vanish.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ComTestSupport.h"
#include "FakeSerialPort.h"
#include "platform/com/ComApi.h"
#include "platform/com/RpcFrame.h"
#include "platform/com/RpcFrameReader.h"
#include "platform/com/RpcSettings.h"
#include "platform/com/RpcSocket.h"
#include "transport/ModbusSerialServerPs.h"

namespace {
using Clock = std::chrono::steady_clock;

long MillisSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class LocalActivation : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(RegisterModbusSerialServerPs(), S_OK);
        ASSERT_FALSE(m_dir.Path().empty());
        CoSetRuntimeDirectory(m_dir.Path().c_str());
        // Relative: found beside the test executable.
        CoRegisterLocalServer(CLSID_ModbusSerialServer, "regprobe-test-com-server");
        CoSetCallTimeout(10000);
        ::setenv("REGPROBE_TEST_LINGER_MS", "500", 1);
    }
    void TearDown() override {
        CoRegisterLocalServer(CLSID_ModbusSerialServer, nullptr);
        CoSetRuntimeDirectory(nullptr);
        CoSetCallTimeout(0);
        CoUninitialize();
    }

    IModbusSerialPort* Activate(HRESULT* phr = nullptr,
                                REFCLSID rclsid = CLSID_ModbusSerialServer) {
        MULTI_QI qi{&IID_IModbusSerialPort, nullptr, S_OK};
        HRESULT hr = CoCreateInstanceEx(rclsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 1, &qi);
        if (phr != nullptr) {
            *phr = hr;
        }
        return SUCCEEDED(hr) ? static_cast<IModbusSerialPort*>(qi.pItf) : nullptr;
    }
    std::string SocketPath() const {
        return m_dir.Path() + "/" + RpcGuidToName(CLSID_ModbusSerialServer) + ".sock";
    }

    CTempDir m_dir;
};

TEST_F(LocalActivation, StartsTheServerOnDemandAndRoundTripsEveryMember) {
    HRESULT hr;
    IModbusSerialPort* pPort = Activate(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(pPort, nullptr);
    struct stat st {};
    ASSERT_EQ(::stat(SocketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(RunFakeCommand(pPort, 0x04), ::getpid());  // another process

    EXPECT_EQ(pPort->put_BaudRate(19200), S_OK);
    EXPECT_EQ(pPort->put_Parity(-2), S_OK);
    EXPECT_EQ(pPort->put_FlowControl(5), S_OK);
    EXPECT_EQ(pPort->put_SilentInterval(7), S_OK);
    EXPECT_EQ(pPort->put_Timeout(2500), S_OK);
    EXPECT_EQ(pPort->put_StopBits(2), S_OK);
    EXPECT_EQ(pPort->put_Mode(1), S_OK);
    EXPECT_EQ(pPort->put_ByteSize(7), S_OK);
    EXPECT_EQ(pPort->put_ErrorDelay(-1), S_OK);
    EXPECT_EQ(pPort->put_Port(3), S_OK);
    LONG n = 0;
    SHORT s = 0;
    EXPECT_EQ(pPort->get_Port(&n), S_OK);
    EXPECT_EQ(n, 3);
    pPort->get_BaudRate(&n);
    EXPECT_EQ(n, 19200);
    pPort->get_Parity(&s);
    EXPECT_EQ(s, -2);
    pPort->get_FlowControl(&n);
    EXPECT_EQ(n, 5);
    pPort->get_SilentInterval(&n);
    EXPECT_EQ(n, 7);
    pPort->get_Timeout(&n);
    EXPECT_EQ(n, 2500);
    pPort->get_StopBits(&s);
    EXPECT_EQ(s, 2);
    pPort->get_Mode(&s);
    EXPECT_EQ(s, 1);
    pPort->get_ByteSize(&s);
    EXPECT_EQ(s, 7);
    pPort->get_ErrorDelay(&n);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(pPort->get_Port(nullptr), E_POINTER);

    VARIANT_BOOL vb = VARIANT_FALSE;
    pPort->get_Active(&vb);
    EXPECT_EQ(vb, VARIANT_FALSE);
    EXPECT_EQ(pPort->Connect(&vb), S_OK);
    EXPECT_EQ(vb, VARIANT_TRUE);
    pPort->get_Active(&vb);
    EXPECT_EQ(vb, VARIANT_TRUE);

    // The caller keeps its string.
    BSTR name = AllocBstr("com5");
    EXPECT_EQ(pPort->SelectPort(name, 1, &s), S_OK);
    EXPECT_EQ(s, 5);
    EXPECT_EQ(BstrToString(name), "com5");
    SysFreeString(name);
    pPort->get_Port(&n);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(pPort->SelectPort(nullptr, 1, &s), S_OK);
    EXPECT_EQ(s, -1);

    // Reserved slots and IDispatch's members answer here.
    EXPECT_EQ(pPort->Reserved7(), E_NOTIMPL);
    EXPECT_EQ(pPort->Reserved18(), E_NOTIMPL);
    EXPECT_EQ(pPort->Reserved48(), E_NOTIMPL);
    UINT nInfo = 0;
    EXPECT_EQ(pPort->GetTypeInfoCount(&nInfo), E_NOTIMPL);

    void* pv = nullptr;
    EXPECT_EQ(pPort->QueryInterface(IID_IDispatch, &pv), S_OK);
    EXPECT_EQ(pv, static_cast<IDispatch*>(pPort));
    static_cast<IUnknown*>(pv)->Release();
    EXPECT_EQ(pPort->QueryInterface(IID_IModbusTcpServer, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    const IID unknownIid = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    EXPECT_EQ(pPort->QueryInterface(unknownIid, &pv), E_NOINTERFACE);

    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(pPort->get_TcpServer(&pDispatch), S_OK);
    ASSERT_NE(pDispatch, nullptr);
    IModbusTcpServer* pTcp = nullptr;
    ASSERT_EQ(pDispatch->QueryInterface(IID_IModbusTcpServer, reinterpret_cast<void**>(&pTcp)),
              S_OK);
    pDispatch->Release();
    BSTR address = AllocBstr("192.168.1.7");
    EXPECT_EQ(pTcp->put_Address(address), S_OK);
    SysFreeString(address);
    address = nullptr;
    EXPECT_EQ(pTcp->get_Address(&address), S_OK);
    EXPECT_EQ(BstrToString(address), "192.168.1.7");
    SysFreeString(address);
    EXPECT_EQ(pTcp->put_Port(1502), S_OK);
    pTcp->get_Port(&n);
    EXPECT_EQ(n, 1502);
    EXPECT_EQ(pTcp->Start(&vb), S_OK);
    EXPECT_EQ(vb, VARIANT_TRUE);
    pTcp->get_Running(&vb);
    EXPECT_EQ(vb, VARIANT_TRUE);
    pTcp->Stop(&vb);
    EXPECT_EQ(vb, VARIANT_TRUE);
    pTcp->get_Running(&vb);
    EXPECT_EQ(vb, VARIANT_FALSE);
    pTcp->Release();
    pPort->Release();
}

TEST_F(LocalActivation, TransfersArraysAndVariantsAsInProcess) {
    IModbusSerialPort* pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    for (VARTYPE vt : {VT_UI1, VT_I2, VT_I4}) {
        for (const std::vector<LONG>& values :
             {std::vector<LONG>{1, 3, 0, 200}, std::vector<LONG>()}) {
            VARIANT request = MakeArray(vt, vt == VT_I4 ? 1 : 0, values);
            VARIANT response;
            VariantInit(&response);
            VARIANT extra;
            VariantInit(&extra);
            extra.vt = VT_I2;
            extra.iVal = 41;
            LONG nStatus = 0;
            ASSERT_EQ(pPort->Transfer(request, 4, &response, 9, &extra, &nStatus), S_OK);
            EXPECT_EQ(response.vt, VT_ARRAY | vt);
            EXPECT_EQ(ArrayValues(response), values);
            LONG lLbound = -1;
            SafeArrayGetLBound(response.parray, 1, &lLbound);
            EXPECT_EQ(lLbound, vt == VT_I4 ? 1 : 0);
            EXPECT_EQ(ArrayValues(request), values);  // the request stays the caller's
            EXPECT_EQ(nStatus, 4009);
            EXPECT_EQ(extra.vt, VT_I2);
            EXPECT_EQ(extra.iVal, 42);
            VariantClear(&request);
            VariantClear(&response);
        }
    }

    // The in/out extra in its other shapes.
    VARIANT request = MakeArray(VT_UI1, 0, {1, 2, 3});
    VARIANT response;
    VariantInit(&response);
    VARIANT extra;
    VariantInit(&extra);
    LONG nStatus = 0;
    ASSERT_EQ(pPort->Transfer(request, 3, &response, 3, &extra, &nStatus), S_OK);
    EXPECT_EQ(extra.vt, VT_BSTR);
    EXPECT_EQ(BstrToString(extra.bstrVal), "extra");
    VariantClear(&response);  // an [out] value is not freed by the call
    ASSERT_EQ(pPort->Transfer(request, 3, &response, 3, &extra, &nStatus), S_OK);
    EXPECT_EQ(BstrToString(extra.bstrVal), "extra!");
    VariantClear(&extra);
    VariantClear(&response);
    extra = MakeArray(VT_UI1, 0, {7, 8, 9});
    ASSERT_EQ(pPort->Transfer(request, 3, &response, 3, &extra, &nStatus), S_OK);
    EXPECT_EQ(ArrayValues(extra), (std::vector<LONG>{9, 8, 7}));
    VariantClear(&extra);
    VariantClear(&response);

    // References: the request goes as its value, the extra comes back through its reference.
    VARIANT byRequest;
    VariantInit(&byRequest);
    byRequest.vt = VT_BYREF | VT_VARIANT;
    byRequest.pvarVal = &request;
    SHORT nExtra = 5;
    extra.vt = VT_BYREF | VT_I2;
    extra.piVal = &nExtra;
    ASSERT_EQ(pPort->Transfer(byRequest, 3, &response, 3, &extra, &nStatus), S_OK);
    EXPECT_EQ(response.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(ArrayValues(response), (std::vector<LONG>{1, 2, 3}));
    EXPECT_EQ(extra.vt, VT_BYREF | VT_I2);
    EXPECT_EQ(nExtra, 6);
    VariantClear(&response);
    VARIANT byArray;
    VariantInit(&byArray);
    byArray.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    byArray.pparray = &request.parray;
    VARIANT inner;
    VariantInit(&inner);
    inner.vt = VT_I4;
    inner.lVal = 10;
    extra.vt = VT_BYREF | VT_VARIANT;
    extra.pvarVal = &inner;
    ASSERT_EQ(pPort->Transfer(byArray, 3, &response, 3, &extra, &nStatus), S_OK);
    EXPECT_EQ(ArrayValues(response), (std::vector<LONG>{1, 2, 3}));
    EXPECT_EQ(inner.lVal, 11);
    VariantClear(&response);

    // Null pointers reach the object; out-values travel with a failure too.
    ASSERT_EQ(pPort->Transfer(request, 3, &response, 2, nullptr, &nStatus), S_OK);
    EXPECT_EQ(nStatus, 3502);
    VariantClear(&response);
    EXPECT_EQ(pPort->Transfer(request, -1, &response, 2, nullptr, &nStatus), FAKE_TRANSFER_FAILED);
    EXPECT_EQ(nStatus, 123);
    EXPECT_EQ(response.vt, VT_EMPTY);

    // What cannot travel is refused before it leaves.
    VARIANT real;
    VariantInit(&real);
    real.vt = VT_R8;
    EXPECT_EQ(pPort->Transfer(real, 1, &response, 1, nullptr, &nStatus), DISP_E_BADVARTYPE);
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    VARIANT square;
    VariantInit(&square);
    square.vt = VT_ARRAY | VT_UI1;
    square.parray = SafeArrayCreate(VT_UI1, 2, bounds);
    EXPECT_EQ(pPort->Transfer(square, 4, &response, 1, nullptr, &nStatus), E_INVALIDARG);
    VariantClear(&square);
    VariantClear(&request);
    pPort->Release();
}

TEST_F(LocalActivation, TwoThreadsCallThroughOneProxy) {
    IModbusSerialPort* pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    std::atomic<int> nMismatches{0};
    std::atomic<int> nFailures{0};
    auto worker = [&](BYTE byThread) {
        for (int i = 0; i < 250; ++i) {
            // Some calls sleep on the server, so answers overtake each other.
            bool bSlow = i % 25 == byThread;
            std::vector<LONG> bytes = {bSlow ? FAKE_COMMAND : byThread,
                                       bSlow ? 0x02 : i & 0xFF,
                                       bSlow ? 3 : byThread,
                                       0,
                                       byThread,
                                       i >> 8};
            VARIANT request = MakeArray(VT_UI1, 0, bytes);
            VARIANT response;
            VariantInit(&response);
            LONG nStatus = 0;
            HRESULT hr = pPort->Transfer(request, 6, &response, i, nullptr, &nStatus);
            if (FAILED(hr)) {
                ++nFailures;
            } else if (ArrayValues(response) != bytes || nStatus != 6000 + i + 500) {
                ++nMismatches;
            }
            LONG n = 0;
            if (FAILED(pPort->put_Timeout(byThread)) || FAILED(pPort->get_BaudRate(&n)) ||
                n != 9600) {
                ++nFailures;
            }
            VariantClear(&request);
            VariantClear(&response);
        }
    };
    std::thread first(worker, 1);
    std::thread second(worker, 2);
    first.join();
    second.join();
    EXPECT_EQ(nFailures, 0);
    EXPECT_EQ(nMismatches, 0);
    pPort->Release();
}

TEST_F(LocalActivation, ReleaseFreesTheServerObject) {
    IModbusSerialPort* pFirst = Activate();
    IModbusSerialPort* pSecond = Activate();
    ASSERT_NE(pFirst, nullptr);
    ASSERT_NE(pSecond, nullptr);
    EXPECT_EQ(RunFakeCommand(pSecond, 0x01), 2);
    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(pFirst->get_TcpServer(&pDispatch), S_OK);
    EXPECT_EQ(RunFakeCommand(pSecond, 0x01), 3);
    // The port still holds its TCP server; releasing the port frees both.
    pDispatch->Release();
    EXPECT_EQ(RunFakeCommand(pSecond, 0x01), 3);
    pFirst->Release();
    EXPECT_EQ(RunFakeCommand(pSecond, 0x01), 1);
    pSecond->Release();
}

TEST_F(LocalActivation, ObjectsOfAVanishedClientAreReleased) {
    // The child forks from a process without threads and leaves without
    // releasing anything.
    int ready[2], leave[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(leave), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(leave[1]);
        IModbusSerialPort* pA = Activate();
        IModbusSerialPort* pB = Activate();
        IDispatch* pDispatch = nullptr;
        bool bOk = pA != nullptr && pB != nullptr && SUCCEEDED(pA->get_TcpServer(&pDispatch));
        char c = bOk ? 'r' : 'f';
        ssize_t n = ::write(ready[1], &c, 1);
        pollfd p{leave[0], POLLIN, 0};
        ::poll(&p, 1, 5000);
        ::_exit(n == 1 ? 0 : 1);
    }
    ::close(ready[1]);
    ::close(leave[0]);
    pollfd p{ready[0], POLLIN, 0};
    char c = 0;
    ASSERT_EQ(::poll(&p, 1, 8000), 1);
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'r');
    IModbusSerialPort* pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    EXPECT_EQ(RunFakeCommand(pPort, 0x01), 4);
    ::close(leave[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WaitUntil([pPort] { return RunFakeCommand(pPort, 0x01) == 1; }, 3000));
    ::close(ready[0]);
    pPort->Release();
}

TEST_F(LocalActivation, ClientsRacingToStartTheServerShareOne) {
    int pids[2];
    ASSERT_EQ(::pipe(pids), 0);
    pid_t children[2];
    for (pid_t& child : children) {
        child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            IModbusSerialPort* pPort = Activate();
            LONG nServer = pPort != nullptr ? RunFakeCommand(pPort, 0x04) : -1;
            ssize_t n = ::write(pids[1], &nServer, sizeof nServer);
            if (pPort != nullptr) {
                pPort->Release();
            }
            ::_exit(n == sizeof nServer ? 0 : 1);
        }
    }
    ::close(pids[1]);
    LONG servers[2] = {-1, -1};
    for (LONG& nServer : servers) {
        pollfd p{pids[0], POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 8000), 1);
        ASSERT_EQ(::read(pids[0], &nServer, sizeof nServer), ssize_t(sizeof nServer));
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ::close(pids[0]);
    EXPECT_GT(servers[0], 0);
    EXPECT_EQ(servers[0], servers[1]);
}

TEST_F(LocalActivation, KilledServerFailsPendingAndLaterCallsAtOnce) {
    IModbusSerialPort* pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    LONG nFirstServer = RunFakeCommand(pPort, 0x04);
    HRESULT hrPending = S_OK;
    long nPendingMillis = 0;
    std::thread pending([&] {
        VARIANT slow = MakeArray(VT_UI1, 0, {FAKE_COMMAND, 0x02, 0xB8, 0x0B});  // 3 s
        VARIANT response;
        VariantInit(&response);
        LONG nStatus;
        auto start = Clock::now();
        hrPending = pPort->Transfer(slow, 4, &response, 4, nullptr, &nStatus);
        nPendingMillis = MillisSince(start);
        VariantClear(&slow);
        VariantClear(&response);
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
    pPort->Release();
    // The next activation starts a new server.
    pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    EXPECT_NE(RunFakeCommand(pPort, 0x04), nFirstServer);
    pPort->Release();
}

TEST_F(LocalActivation, IdleServerLeavesAndIsStartedAgain) {
    IModbusSerialPort* pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    LONG nFirstServer = RunFakeCommand(pPort, 0x04);
    pPort->Release();
    std::string strSocket = SocketPath();
    EXPECT_TRUE(WaitUntil([&] { return ::access(strSocket.c_str(), F_OK) != 0; }, 5000));
    pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    EXPECT_NE(RunFakeCommand(pPort, 0x04), nFirstServer);
    pPort->Release();
}

TEST_F(LocalActivation, FailuresGiveTheSystemsCodes) {
    const CLSID unknownClass = {0x0BADC0DE, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    HRESULT hr;
    EXPECT_EQ(Activate(&hr, unknownClass), nullptr);
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);

    CoRegisterLocalServer(CLSID_ModbusSerialServer, "/nonexistent/regprobe-server");
    auto start = Clock::now();
    EXPECT_EQ(Activate(&hr), nullptr);
    EXPECT_EQ(hr, CO_E_SERVER_EXEC_FAILURE);
    EXPECT_LT(MillisSince(start), 1000);

    // A program that runs but never listens.
    CoRegisterLocalServer(CLSID_ModbusSerialServer, "/bin/true");
    start = Clock::now();
    EXPECT_EQ(Activate(&hr), nullptr);
    EXPECT_EQ(hr, CO_E_SERVER_EXEC_FAILURE);
    EXPECT_LT(MillisSince(start), 3000);

    // A runtime directory others may enter is not used.
    std::string strOpen = m_dir.Path() + "/open";
    ASSERT_EQ(::mkdir(strOpen.c_str(), 0755), 0);
    ::chmod(strOpen.c_str(), 0755);
    CoSetRuntimeDirectory(strOpen.c_str());
    EXPECT_EQ(Activate(&hr), nullptr);
    EXPECT_EQ(hr, E_ACCESSDENIED);
}

TEST_F(LocalActivation, ServerShrugsOffBadClients) {
    IModbusSerialPort* pPort = Activate();
    ASSERT_NE(pPort, nullptr);
    CRpcSocket raw;
    ASSERT_EQ(raw.ConnectUnix(SocketPath()), 0);
    std::vector<BYTE> body;
    ASSERT_EQ(raw.ReceiveFrame(body, 2000), CRpcSocket::RECEIVE_OK);
    EXPECT_EQ(body[0], RPC_MSG_HELLO);
    // A call on an object this connection never got.
    CRpcFrameWriter call(RPC_MSG_CALL, 42);
    call.PutU32(1);
    call.PutGuid(IID_IModbusSerialPort);
    call.PutU16(SERIAL_SLOT_GET_PORT);
    ASSERT_TRUE(raw.SendFrame(call, 1000));
    ASSERT_EQ(raw.ReceiveFrame(body, 2000), CRpcSocket::RECEIVE_OK);
    CRpcFrameReader answer(body.data(), body.size());
    BYTE byType;
    DWORD dwCallId;
    LONG hr;
    ASSERT_TRUE(answer.GetU8(byType) && answer.GetU32(dwCallId) && answer.GetI32(hr));
    EXPECT_EQ(byType, RPC_MSG_ANSWER);
    EXPECT_EQ(dwCallId, 42u);
    EXPECT_EQ(hr, RPC_E_DISCONNECTED);
    // An oversized frame ends the connection.
    const BYTE huge[] = {0xFF, 0xFF, 0xFF, 0xFF, 1};
    ASSERT_TRUE(raw.SendAll(huge, sizeof huge, 1000));
    EXPECT_EQ(raw.ReceiveFrame(body, 2000), CRpcSocket::RECEIVE_CLOSED);
    // Everyone else is still served.
    LONG n = 0;
    EXPECT_EQ(pPort->get_BaudRate(&n), S_OK);
    EXPECT_EQ(n, 9600);
    pPort->Release();
}

}  // namespace
