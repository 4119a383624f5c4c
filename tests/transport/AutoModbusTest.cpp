// The automation master against an in-process fake of the serial server.
#include <gtest/gtest.h>

#include "platform/Archive.h"
#include "platform/FormatMessage.h"
#include "tests/support/FakeSerialServer.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/Serialized.h"
#include "tests/support/ServerPin.h"
#include "tests/support/TempDir.h"
#include "transport/AutoModbus.h"

namespace {

// Only the fakes serve: no server runs in the runtime directory, and
// none can be started.
class AutoModbus : public testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override { CoUninitialize(); }

    CTempDir m_runtime;
    CScopedEnv m_runtimeVar{RPC_RUNTIME_DIR_VARIABLE, m_runtime.Path().c_str()};
    CServerPin m_noServer;
    CFakeSerialServer m_server;
};

TEST_F(AutoModbus, CreateAsksForOneContextOnly) {
    {
        CFakeServerRegistration remoteOnly(m_server, CLSCTX_REMOTE_SERVER);
        CAutoModbus m;
        // A local request is not served by the remote registration; with no
        // local server registered it fails.
        EXPECT_TRUE(FAILED(m.Create("", "com2")));
        EXPECT_EQ(m.m_pPort, nullptr);
        EXPECT_EQ(m.Create("plc-host", "com2"), S_OK);
        EXPECT_EQ(m.GetServerName(), "plc-host");
    }
    CFakeServerRegistration localOnly(m_server, CLSCTX_LOCAL_SERVER);
    CAutoModbus m;
    EXPECT_EQ(m.Create("", "com3"), S_OK);
    EXPECT_EQ(m_server.m_strSelected, "com3");
    EXPECT_EQ(m_server.m_nSelectArg, 1);
    EXPECT_EQ(m.m_strPort, "com3");
    EXPECT_NE(m.m_pTcpServer, nullptr);
    EXPECT_EQ(m_server.m_nRefs, 1);
    EXPECT_EQ(m_server.m_tcp.m_nRefs, 1);
    m.ReleaseServer();
    EXPECT_EQ(m_server.m_nRefs, 0);
    EXPECT_EQ(m_server.m_tcp.m_nRefs, 0);
}

TEST_F(AutoModbus, PartialCreationKeepsTheMainInterface) {
    CFakeServerRegistration reg(m_server, CLSCTX_LOCAL_SERVER);
    CAutoModbus m;
    m_server.m_hrTcpServer = E_FAIL;
    EXPECT_EQ(m.Create("", "com1"), E_FAIL);
    EXPECT_NE(m.m_pPort, nullptr);
    EXPECT_EQ(m.m_pTcpServer, nullptr);

    m_server.m_hrTcpServer = S_OK;
    m_server.m_tcp.m_hrQuery = E_NOINTERFACE;
    EXPECT_EQ(m.Create("", "com1"), E_NOINTERFACE);
    EXPECT_EQ(m.m_pTcpServer, nullptr);
    EXPECT_EQ(m_server.m_tcp.m_nRefs, 0);  // the object from TcpServer is released
    EXPECT_EQ(m_server.m_nRefs, 1);        // the first Create's reference was released

    reg.m_hrCreate = CO_E_SERVER_EXEC_FAILURE;
    EXPECT_EQ(m.Create("", "com1"), CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(m.m_pPort, nullptr);
    EXPECT_EQ(m_server.m_nRefs, 0);
}

TEST_F(AutoModbus, TransactMapsTheServersReport) {
    CAutoModbus m;
    CByteArray request{1, 3, 0, 0, 0, 1};
    CByteArray response{9, 9};
    EXPECT_EQ(m.Transact(request, 6, response, 5, FALSE), AUTO_AUTOMATION_ERROR);
    EXPECT_EQ(response, (CByteArray{9, 9}));  // untouched before Create

    CFakeServerRegistration reg(m_server, CLSCTX_LOCAL_SERVER);
    ASSERT_EQ(m.Create("", "com1"), S_OK);
    m_server.Answer({1, 3, 2, 0x12, 0x34});
    EXPECT_EQ(m.Transact(request, 6, response, 7, FALSE), 0);
    EXPECT_EQ(response, (CByteArray{1, 3, 2, 0x12, 0x34}));
    EXPECT_TRUE(m_server.m_bRequestWasArray);
    EXPECT_EQ(m_server.m_lastRequest, request);
    EXPECT_EQ(m_server.m_nLastRequestLength, 6);
    EXPECT_EQ(m_server.m_nLastResponseLength, 7);
    EXPECT_EQ(m_server.m_vtLastExtra, VT_EMPTY);

    m_server.Answer({1});
    m.Transact(request, 6, response, 5, TRUE);
    EXPECT_EQ(m_server.m_vtLastExtra, VT_I2);

    struct Case {
        LONG nStatus;
        HRESULT hr;
        WORD wExpected;
    };
    const Case cases[] = {
        {static_cast<LONG>(0x80040201), S_OK, 1},
        {static_cast<LONG>(0x80040203), S_OK, 3},
        {static_cast<LONG>(0x8004020A), S_OK, 10},
        {static_cast<LONG>(0x80048203), S_OK, 0x8003},
        {static_cast<LONG>(0x80004005), S_OK, AUTO_AUTOMATION_ERROR},
        {0, E_FAIL, AUTO_AUTOMATION_ERROR},
        {static_cast<LONG>(0x80040201), RPC_E_DISCONNECTED, AUTO_AUTOMATION_ERROR},
    };
    for (const Case& c : cases) {
        m_server.Fail(c.nStatus, c.hr);
        EXPECT_EQ(m.Transact(request, 6, response, 5, FALSE), c.wExpected) << std::hex << c.nStatus;
    }
    EXPECT_EQ(m.GetErrorText(2000), "Automation Error");
    EXPECT_EQ(m.GetErrorText(2001), "Build Array Error");
    EXPECT_EQ(m.GetErrorText(1), "Time Out Error");
}

TEST_F(AutoModbus, ResponseArraysOfEveryShape) {
    CFakeServerRegistration reg(m_server, CLSCTX_LOCAL_SERVER);
    CAutoModbus m;
    ASSERT_EQ(m.Create("", "com1"), S_OK);
    CByteArray request{1, 8, 0, 0, 0xA5, 0x37};
    CByteArray response;
    auto play = [&](std::function<void(VARIANT*)> fill) {
        CFakeSerialServer::Scripted a;
        a.fill = std::move(fill);
        m_server.m_answers.push_back(a);
        return m.Transact(request, 6, response, 6, FALSE);
    };
    COleSafeArrayEx helper;
    // 16-bit and 32-bit elements are cut to their low bytes.
    EXPECT_EQ(play([&](VARIANT* v) { helper.FromByteArray({1, 0xFF, 7}, v, VT_I2); }), 0);
    EXPECT_EQ(response, (CByteArray{1, 0xFF, 7}));
    EXPECT_EQ(play([&](VARIANT* v) {
                  helper.FromByteArray({0, 0, 0}, v, VT_I4);
                  static_cast<LONG*>(v->parray->pvData)[1] = 0x12345678;
              }),
              0);
    EXPECT_EQ(response, (CByteArray{0, 0x78, 0}));
    // No elements: the response is emptied.
    EXPECT_EQ(play([&](VARIANT* v) { helper.FromByteArray({}, v, VT_UI1); }), 0);
    EXPECT_TRUE(response.empty());
    // No array at all, or a variant that lies about its elements.
    EXPECT_EQ(play([](VARIANT* v) { v->vt = VT_I4; }), AUTO_BUILD_ARRAY_ERROR);
    EXPECT_EQ(play([&](VARIANT* v) {
                  helper.FromByteArray({1, 2}, v, VT_UI1);
                  v->vt = VT_ARRAY | VT_I4;
              }),
              AUTO_BUILD_ARRAY_ERROR);
    // Two dimensions are refused.
    EXPECT_EQ(play([](VARIANT* v) {
                  SAFEARRAYBOUND b[2] = {{2, 0}, {2, 0}};
                  v->vt = VT_ARRAY | VT_UI1;
                  v->parray = SafeArrayCreate(VT_UI1, 2, b);
              }),
              AUTO_BUILD_ARRAY_ERROR);
    // A failed exchange keeps its own status even without an array.
    m_server.Fail(static_cast<LONG>(0x80040201));
    EXPECT_EQ(m.Transact(request, 6, response, 6, FALSE), 1);
}

TEST_F(AutoModbus, ByReferenceVariantsAreRead) {
    COleSafeArrayEx helper;
    COleSafeArrayEx inner;
    ASSERT_TRUE(inner.FromByteArray({4, 5, 6}));
    VARIANT byRefVariant;
    byRefVariant.vt = VT_BYREF | VT_VARIANT;
    byRefVariant.pvarVal = &inner;
    CByteArray out;
    EXPECT_TRUE(helper.ToByteArray(out, &byRefVariant));
    EXPECT_EQ(out, (CByteArray{4, 5, 6}));

    SAFEARRAY* psa = COleSafeArrayEx::GetSafeArrayPtr(&inner);
    VARIANT byRefArray;
    byRefArray.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    byRefArray.pparray = &psa;
    out.clear();
    EXPECT_TRUE(helper.ToByteArray(out, &byRefArray));
    EXPECT_EQ(out, (CByteArray{4, 5, 6}));

    EXPECT_FALSE(helper.ToByteArray(out));  // its own VARIANT is empty
    EXPECT_FALSE(helper.FromByteArray({1}, nullptr, VT_R8));
}

// Each setting passes to the server and back: see the record's test below.
TEST_F(AutoModbus, PropertiesAndConnection) {
    CAutoModbus none;
    EXPECT_EQ(none.GetBaudRate(), 0);
    EXPECT_FALSE(none.Connect());
    EXPECT_FALSE(none.IsConnected());
    none.SetBaudRate(19200);  // ignored

    CFakeServerRegistration reg(m_server, CLSCTX_LOCAL_SERVER);
    CAutoModbus m;
    ASSERT_EQ(m.Create("", "com1"), S_OK);
    EXPECT_FALSE(m.IsConnected());
    EXPECT_TRUE(m.Connect());
    EXPECT_TRUE(m.IsConnected());
    m_server.m_vbActiveTrue = 1;  // only VARIANT_TRUE counts
    EXPECT_FALSE(m.IsConnected());
    m_server.m_bConnectSucceeds = false;
    EXPECT_FALSE(m.Connect());
}

// Loading the record leaves a master without a port, and the byte stored
// after the record is the next one read.
bool DroppedWhole(CByteArray record) {
    record.push_back(0x5A);
    CMemFile in(record);
    CArchive ar(&in, CArchive::load);
    CAutoModbus loaded;
    loaded.Serialize(ar);
    BYTE next = 0;
    ar >> next;
    return loaded.m_pPort == nullptr && next == 0x5A;
}

// No two values are alike, so none can stand in for another; the getters'
// garbage above the bits that count would show in the record.
TEST_F(AutoModbus, RecordHoldsTheServersValuesAndLoadingAppliesThem) {
    CByteArray record;
    {
        CFakeServerRegistration reg(m_server, CLSCTX_LOCAL_SERVER);
        CAutoModbus m;
        ASSERT_EQ(m.Create("", "com2"), S_OK);  // the name stored is not used
        m_server.m_nPort = 3;
        m_server.m_nBaudRate = 19200;
        m_server.m_nParity = 4;
        m_server.m_nFlowControl = 6;
        m_server.m_nStopBits = 2;
        m_server.m_nMode = 1;
        m_server.m_nByteSize = 7;
        m_server.m_nTimeout = 0x01020304;
        m_server.m_nSilentInterval = 20;
        m_server.m_nErrorDelay = 300;
        m_server.m_tcp.m_bRunning = true;
        m_server.m_tcp.m_strAddress = "10.0.0.5";
        m_server.m_tcp.m_nPort = 1502;
        record = Stored(m);
    }
    const CByteArray expected{0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0,        // tries, throw, reserved
                              0x00, 0x04, 'c', 'o', 'm', '2',            // server "", port "com2"
                              3, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0,        // port, byte size, mode
                              2, 0, 0, 0, 6, 0, 0, 0, 20, 0, 0, 0,       // stop bits, flow, silent
                                                                         // interval
                              4, 3, 2, 1, 4, 0, 0, 0, 0x00, 0x4B, 0, 0,  // time-out, parity, baud
                                                                         // rate
                              0x2C, 0x01, 0, 0,                          // error delay
                              0xFF, 0xFF, 8, '1', '0', '.', '0', '.', '0', '.', '5', 0xDE, 0x05, 0,
                              0};
    EXPECT_EQ(record, expected);

    CFakeSerialServer target;
    {
        CFakeServerRegistration reg(target, CLSCTX_LOCAL_SERVER);
        CMemFile in(record);
        CArchive ar(&in, CArchive::load);
        CAutoModbus loaded;
        loaded.Serialize(ar);
        EXPECT_EQ(in.GetRemaining(), 0u);
        EXPECT_EQ(target.m_strSelected, "com3");
        // Every value applied; the port's name is now the one selected.
        CByteArray applied = expected;
        applied[15] = '3';
        EXPECT_EQ(Stored(loaded), applied);
        EXPECT_EQ(target.m_nConnects, 1);
        EXPECT_EQ(target.m_tcp.m_nStarts, 1);
    }

    // No server to create: the record's bytes are consumed all the same, so
    // what follows it reads correctly.
    EXPECT_TRUE(DroppedWhole(record));
    // Without a server: master settings, two empty names, ten zeros, no TCP
    // server, 59 bytes.
    CAutoModbus none;
    CByteArray empty(59, 0);
    empty[0] = 1;
    EXPECT_EQ(Stored(none), empty);
}

TEST_F(AutoModbus, PortNamesTheServerDoesNotKnowAreRefused) {
    CFakeServerRegistration reg(m_server, CLSCTX_LOCAL_SERVER);
    CAutoModbus m;
    for (const char* pszName : {"com9", "com0", "com10", "com", "", "lpt1", "com1 "}) {
        const HRESULT hr = m.Create("", pszName);
        EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_UNKNOWN_PORT)) << pszName;
        EXPECT_EQ(m.m_pPort, nullptr);
        EXPECT_EQ(m_server.m_nRefs, 0) << "no server object for " << pszName;
    }
    char szText[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                   static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_UNKNOWN_PORT)), 0, szText,
                   sizeof szText, nullptr);
    EXPECT_STREQ(szText, "The specified port is unknown.\r\n");
    for (const char* pszName : {"COM8", "Com1", "cOm4"}) {
        EXPECT_EQ(m.Create("", pszName), S_OK) << pszName;
        EXPECT_EQ(m_server.m_strSelected, pszName);
    }

    // A record naming COM9 is dropped like one whose server is unreachable,
    // its bytes consumed.
    m_server.m_nPort = 9;
    CByteArray record = Stored(m);
    m.ReleaseServer();
    EXPECT_TRUE(DroppedWhole(record));
    EXPECT_EQ(m_server.m_nRefs, 0);
}

}  // namespace
