// The wire codec: every remoted variant type both ways, refusals, and
// decoding of truncated, oversized and garbage input; frames over TLS
// whatever records and segments they arrive in.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "platform/com/ComPtr.h"
#include "platform/com/rpc/RpcAccessKey.h"
#include "platform/com/rpc/RpcFrame.h"
#include "platform/com/rpc/RpcFrameReader.h"
#include "platform/com/rpc/RpcSocket.h"
#include "serialapi/ModbusSerialServerPs.h"
#include "tests/com/ComTestSupport.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/TempDir.h"

namespace {

// The body of a frame holding the variant, after type and call id.
std::vector<BYTE> Encode(const VARIANT& var, HRESULT* phr = nullptr) {
    CRpcFrameWriter writer(RPC_MSG_CALL, 7);
    HRESULT hr = writer.PutVariant(var);
    if (phr != nullptr) {
        *phr = hr;
    }
    EXPECT_TRUE(writer.Seal());
    return std::vector<BYTE>(writer.GetBytes().begin() + RPC_FRAME_HEADER + RPC_MIN_BODY,
                             writer.GetBytes().end());
}

struct CDecoded {
    VARIANT var;
    bool bOk;
    explicit CDecoded(const std::vector<BYTE>& bytes) {
        CRpcFrameReader reader(bytes.data(), bytes.size());
        bOk = reader.GetVariant(&var) && reader.IsDone();
    }
    ~CDecoded() { VariantClear(&var); }
};

VARIANT Scalar(VARTYPE vt, LONGLONG n) {
    VARIANT var{};
    var.vt = vt;
    var.llVal = n;  // little-endian: bVal, iVal and lVal alike
    return var;
}

TEST(RpcFrame, ScalarsAndStringsRoundTrip) {
    struct {
        VARTYPE vt;
        LONG n;
    } cases[] = {{VT_EMPTY, 0},
                 {VT_NULL, 0},
                 {VT_I2, -2},
                 {VT_I4, 0x12345678},
                 {VT_UI1, 255},
                 {VT_BOOL, VARIANT_TRUE},
                 {VT_ERROR, static_cast<LONG>(0x80020004)}};
    for (const auto& c : cases) {
        CDecoded got(Encode(Scalar(c.vt, c.n)));
        ASSERT_TRUE(got.bOk) << c.vt;
        EXPECT_EQ(got.var.vt, c.vt);
        LONG nGot = c.vt == VT_UI1                     ? got.var.bVal
                    : c.vt == VT_I2 || c.vt == VT_BOOL ? got.var.iVal
                    : c.vt <= VT_NULL                  ? 0
                                                       : got.var.lVal;
        EXPECT_EQ(nGot, c.n) << c.vt;
    }
    // A null string stays null, an empty one empty; code units above 0xFF survive.
    const OLECHAR text[] = u"Gr\u00fc\u00dfe \u20ac\U0001F600";
    for (BSTR bstr : {static_cast<BSTR>(nullptr), SysAllocString(u""), SysAllocString(text)}) {
        CComBSTR owned;
        owned.Attach(bstr);
        VARIANT var = Scalar(VT_BSTR, 0);
        var.bstrVal = bstr;
        CDecoded got(Encode(var));
        ASSERT_TRUE(got.bOk);
        ASSERT_EQ(got.var.vt, VT_BSTR);
        EXPECT_EQ(got.var.bstrVal == nullptr, bstr == nullptr);
        ASSERT_EQ(SysStringLen(got.var.bstrVal), SysStringLen(bstr));
        EXPECT_EQ(std::u16string(got.var.bstrVal != nullptr ? got.var.bstrVal : u""),
                  std::u16string(bstr != nullptr ? bstr : u""));
    }
}

TEST(RpcFrame, OneDimensionalArraysRoundTripWithBounds) {
    for (VARTYPE vt : {VT_UI1, VT_I2, VT_I4}) {
        const LONG nMin = vt == VT_UI1 ? 0 : vt == VT_I2 ? -32768 : -2147483647 - 1;
        const LONG nMax = vt == VT_UI1 ? 255 : vt == VT_I2 ? 32767 : 2147483647;
        for (LONG lLbound : {0, 1, -3}) {
            for (const std::vector<LONG>& v :
                 {std::vector<LONG>{nMin, 1, nMax}, std::vector<LONG>()}) {
                VARIANT var = MakeArray(vt, lLbound, v);
                CDecoded got(Encode(var));
                ASSERT_TRUE(got.bOk);
                EXPECT_EQ(got.var.vt, VT_ARRAY | vt);
                LONG lGot = 99;
                SafeArrayGetLBound(got.var.parray, 1, &lGot);
                EXPECT_EQ(lGot, lLbound);
                VARTYPE vtGot = VT_EMPTY;
                SafeArrayGetVartype(got.var.parray, &vtGot);
                EXPECT_EQ(vtGot, vt);
                EXPECT_EQ(ArrayValues(got.var), v);
                VariantClear(&var);
            }
        }
    }
    // An array variant without an array stays so.
    CDecoded got(Encode(Scalar(VT_ARRAY | VT_UI1, 0)));
    ASSERT_TRUE(got.bOk);
    EXPECT_EQ(got.var.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(got.var.parray, nullptr);
}

TEST(RpcFrame, ReferencesTravelAsTheirValues) {
    VARIANT inner = MakeArray(VT_I2, 0, {5, -6});
    LONG n = 77;
    VARIANT byVariant, byArray, byLong, twice;
    byVariant.vt = VT_BYREF | VT_VARIANT;
    byVariant.pvarVal = &inner;
    byArray.vt = VT_BYREF | VT_ARRAY | VT_I2;
    byArray.pparray = &inner.parray;
    byLong.vt = VT_BYREF | VT_I4;
    byLong.plVal = &n;
    for (const VARIANT* pvar : {&byVariant, &byArray}) {
        CDecoded got(Encode(*pvar));
        ASSERT_TRUE(got.bOk);
        EXPECT_EQ(got.var.vt, VT_ARRAY | VT_I2);
        EXPECT_EQ(ArrayValues(got.var), (std::vector<LONG>{5, -6}));
    }
    CDecoded viaLong(Encode(byLong));
    ASSERT_TRUE(viaLong.bOk);
    EXPECT_EQ(viaLong.var.vt, VT_I4);
    EXPECT_EQ(viaLong.var.lVal, 77);
    // A reference to a reference is not a valid variant.
    twice.vt = VT_BYREF | VT_VARIANT;
    twice.pvarVal = &byArray;
    HRESULT hr = S_OK;
    Encode(twice, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    VariantClear(&inner);
}

TEST(RpcFrame, UnsupportedVariantsAreRefusedAndLeaveTheFrameAlone) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
    VARIANT twoDims = Scalar(VT_ARRAY | VT_UI1, 0);
    twoDims.parray = SafeArrayCreate(VT_UI1, 2, bounds);
    VARIANT doubles = Scalar(VT_ARRAY | VT_R8, 0);
    doubles.parray = SafeArrayCreateVector(VT_R8, 0, 1);
    VARIANT mislabelled = Scalar(VT_ARRAY | VT_UI1, 0);  // the array holds shorts
    mislabelled.parray = SafeArrayCreateVector(VT_I2, 0, 1);
    VARIANT real = Scalar(VT_R8, 0);
    VARIANT dispatch = Scalar(VT_DISPATCH, 0);

    struct {
        VARIANT* pvar;
        HRESULT hr;
    } cases[] = {{&twoDims, E_INVALIDARG},
                 {&doubles, DISP_E_BADVARTYPE},
                 {&mislabelled, DISP_E_BADVARTYPE},
                 {&real, DISP_E_BADVARTYPE},
                 {&dispatch, DISP_E_BADVARTYPE}};
    for (const auto& c : cases) {
        CRpcFrameWriter writer(RPC_MSG_CALL, 1);
        writer.PutU8(0xAA);
        size_t nBefore = writer.GetBodySize();
        EXPECT_EQ(writer.PutVariant(*c.pvar), c.hr);
        EXPECT_EQ(writer.GetBodySize(), nBefore);
    }
    VariantClear(&twoDims);
    VariantClear(&doubles);
    VariantClear(&mislabelled);
}

TEST(RpcFrame, TruncatedInputFailsAtEveryLength) {
    VARIANT strings = Scalar(VT_BSTR, 0);
    strings.bstrVal = SysAllocString(u"abc");
    VARIANT longs = MakeArray(VT_I4, 2, {1, 2, 3});
    for (VARIANT* pvar : {&strings, &longs}) {
        std::vector<BYTE> full = Encode(*pvar);
        for (size_t n = 0; n < full.size(); ++n) {
            CDecoded got(std::vector<BYTE>(full.begin(), full.begin() + n));
            EXPECT_FALSE(got.bOk) << n;
            EXPECT_EQ(got.var.vt, VT_EMPTY);
        }
        EXPECT_TRUE(CDecoded(full).bOk);
    }
    VariantClear(&strings);
    VariantClear(&longs);
}

TEST(RpcFrame, SizesFromTheWireAreCheckedBeforeAllocating) {
    // Counts far beyond the bytes that follow.
    std::vector<std::vector<BYTE>> lies = {
        {VT_BSTR, 0, 0xFE, 0xFF, 0xFF, 0x7F, 'a', 0},
        {0x11, 0x20, 1, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2},
        {0x03, 0x20, 1, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x40, 1, 2, 3, 4},
        // Two dimensions, an unknown type and a by-reference type.
        {0x11, 0x20, 2, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 9, 9},
        {0x05, 0x00, 0, 0, 0, 0, 0, 0, 0, 0},
        {0x03, 0x40, 0, 0, 0, 0}};
    for (const std::vector<BYTE>& bytes : lies) {
        EXPECT_FALSE(CDecoded(bytes).bOk);
    }
    BYTE header[4];
    auto lengthOf = [&header](DWORD n) {
        for (int i = 0; i < 4; ++i) {
            header[i] = static_cast<BYTE>(n >> (8 * i));
        }
        return CRpcFrameReader::BodyLengthOf(header);
    };
    EXPECT_EQ(lengthOf(0), 0u);
    EXPECT_EQ(lengthOf(RPC_MIN_BODY - 1), 0u);
    EXPECT_EQ(lengthOf(RPC_MIN_BODY), RPC_MIN_BODY);
    EXPECT_EQ(lengthOf(RPC_MAX_BODY), RPC_MAX_BODY);
    EXPECT_EQ(lengthOf(RPC_MAX_BODY + 1), 0u);
    EXPECT_EQ(lengthOf(0xFFFFFFFF), 0u);
}

TEST(RpcFrame, GarbageNeverDecodesIntoSomethingBroken) {
    std::mt19937 random(12345);
    for (int i = 0; i < 5000; ++i) {
        std::vector<BYTE> bytes(random() % 40);
        for (BYTE& by : bytes) {
            by = static_cast<BYTE>(random());
        }
        if (!bytes.empty() && i % 2 == 0) {
            bytes[0] = static_cast<BYTE>(random() % 12);  // mostly known types
            if (bytes.size() > 1) {
                bytes[1] = i % 4 == 0 ? 0x20 : 0;
            }
        }
        CRpcFrameReader reader(bytes.data(), bytes.size());
        for (int j = 0; j < 8 && reader.IsOk(); ++j) {
            VARIANT var;
            size_t nStart = bytes.size() - reader.GetRemaining();
            if (reader.GetVariant(&var)) {
                // Whatever decodes encodes again to the same bytes.
                size_t nEnd = bytes.size() - reader.GetRemaining();
                EXPECT_EQ(Encode(var),
                          std::vector<BYTE>(bytes.begin() + nStart, bytes.begin() + nEnd));
                VariantClear(&var);
            } else {
                EXPECT_EQ(var.vt, VT_EMPTY);
            }
        }
    }
}

TEST(RpcFrame, InOutVariantsAreStoredThroughReferences) {
    auto store = [](LONGLONG n, VARTYPE vt, VARIANT* pvar) {
        std::vector<BYTE> bytes = Encode(Scalar(vt, n));
        return CRpcFrameReader(bytes.data(), bytes.size()).GetInOutVariant(pvar);
    };
    SHORT nShort = 5;
    VARIANT typed = Scalar(VT_BYREF | VT_I2, 0);
    typed.piVal = &nShort;
    ASSERT_TRUE(store(6, VT_I2, &typed));
    EXPECT_EQ(typed.vt, VT_BYREF | VT_I2);
    EXPECT_EQ(nShort, 6);
    // A typed reference keeps its value when another type comes back.
    ASSERT_TRUE(store(9, VT_I4, &typed));
    EXPECT_EQ(nShort, 6);

    // The old contents are freed (LeakSanitizer would tell).
    VARIANT target = MakeArray(VT_UI1, 0, {1, 2});
    VARIANT byVariant = Scalar(VT_BYREF | VT_VARIANT, 0);
    byVariant.pvarVal = &target;
    ASSERT_TRUE(store(6, VT_I2, &byVariant));
    EXPECT_EQ(target.vt, VT_I2);
    EXPECT_EQ(target.iVal, 6);
    VARIANT plain = MakeArray(VT_UI1, 0, {1});
    ASSERT_TRUE(store(6, VT_I2, &plain));
    EXPECT_EQ(plain.vt, VT_I2);
}

TEST(RpcSocket, FramesAreBoundedInSizeAndTime) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    CRpcSocket socket(fds[0]);
    std::vector<BYTE> body;
    EXPECT_EQ(socket.ReceiveFrame(body, 50), CRpcSocket::RECEIVE_TIMEOUT);
    const BYTE huge[] = {0x01, 0x00, 0x10, 0x00};  // 1 MiB + 1
    ASSERT_EQ(::write(fds[1], huge, sizeof huge), 4);
    EXPECT_EQ(socket.ReceiveFrame(body, 1000), CRpcSocket::RECEIVE_MALFORMED);
    EXPECT_LT(body.capacity(), 1024u);
    const BYTE partial[] = {0x09, 0x00, 0x00, 0x00, 0x02, 0x01};
    ASSERT_EQ(::write(fds[1], partial, sizeof partial), 6);
    ::close(fds[1]);
    EXPECT_EQ(socket.ReceiveFrame(body, 1000), CRpcSocket::RECEIVE_CLOSED);
}

// Both ends of a TLS connection on 127.0.0.1, keyed alike.
struct CTlsPair {
    CRpcSocket client;
    CRpcSocket server;
    bool Connect() {
        CTempDir dir;
        CRpcAccessKey key;
        CListener listener;
        if (FAILED(key.Load(dir.WriteFile("key", std::string(64, '7'), 0600))) ||
            client.ConnectTcp(listener.Address(), 2000) != 0) {
            return false;
        }
        server = CRpcSocket(listener.Accept());
        HRESULT hrServer = E_FAIL;
        std::thread accept([&] { hrServer = server.StartTls(key, true, 2000, 4096); });
        const HRESULT hrClient = client.StartTls(key, false, 2000, 0);
        accept.join();
        return hrClient == S_OK && hrServer == S_OK;
    }
};

CRpcFrameWriter Numbered(DWORD dwCallId) {
    CRpcFrameWriter frame(RPC_MSG_CALL, dwCallId);
    frame.PutU32(~dwCallId);
    return frame;
}

// What a receiver holds decrypted or read ahead is taken without waiting for
// bytes that may never come; a frame that trickles in, a record per byte, is
// waited for until whole.
TEST(RpcSocket, TlsFramesAreReadWhateverRecordsTheyCameIn) {
    CTlsPair pair;
    ASSERT_TRUE(pair.Connect());
    // Three records, on the wire before the first read.
    for (DWORD dwCallId = 1; dwCallId <= 3; ++dwCallId) {
        CRpcFrameWriter frame = Numbered(dwCallId);
        ASSERT_TRUE(pair.client.SendFrame(frame, 1000));
    }
    std::vector<BYTE> body;
    for (DWORD dwCallId = 1; dwCallId <= 3; ++dwCallId) {
        ASSERT_EQ(pair.server.ReceiveFrame(body, 1000), CRpcSocket::RECEIVE_OK);
        const CRpcFrameWriter sent = Numbered(dwCallId);
        EXPECT_EQ(body, std::vector<BYTE>(sent.GetBytes().begin() + RPC_FRAME_HEADER,
                                          sent.GetBytes().end()));
    }
    CRpcFrameWriter frame = Numbered(4);
    ASSERT_TRUE(frame.Seal());
    std::thread trickle([&] {
        for (BYTE b : frame.GetBytes()) {
            ASSERT_TRUE(pair.client.SendAll(&b, 1, 1000));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    EXPECT_EQ(pair.server.ReceiveFrame(body, 2000), CRpcSocket::RECEIVE_OK);
    trickle.join();
    EXPECT_EQ(body.size(), frame.GetBytes().size() - RPC_FRAME_HEADER);
    EXPECT_EQ(pair.server.ReceiveFrame(body, 50), CRpcSocket::RECEIVE_TIMEOUT);
}

// Every slot number the proxies send and the stubs serve is the member's
// own place in the interface.
TEST(ProxyStubSlots, MatchTheInterfaceLayout) {
    using S = IModbusSerialPort;
    using T = IModbusTcpServer;
    EXPECT_EQ(VtableSlotOf(&S::get_Port), SERIAL_SLOT_GET_PORT);
    EXPECT_EQ(VtableSlotOf(&S::put_Port), SERIAL_SLOT_PUT_PORT);
    EXPECT_EQ(VtableSlotOf(&S::get_BaudRate), SERIAL_SLOT_GET_BAUD_RATE);
    EXPECT_EQ(VtableSlotOf(&S::put_BaudRate), SERIAL_SLOT_PUT_BAUD_RATE);
    EXPECT_EQ(VtableSlotOf(&S::get_Parity), SERIAL_SLOT_GET_PARITY);
    EXPECT_EQ(VtableSlotOf(&S::put_Parity), SERIAL_SLOT_PUT_PARITY);
    EXPECT_EQ(VtableSlotOf(&S::get_FlowControl), SERIAL_SLOT_GET_FLOW_CONTROL);
    EXPECT_EQ(VtableSlotOf(&S::put_FlowControl), SERIAL_SLOT_PUT_FLOW_CONTROL);
    EXPECT_EQ(VtableSlotOf(&S::Connect), SERIAL_SLOT_CONNECT);
    EXPECT_EQ(VtableSlotOf(&S::SelectPort), SERIAL_SLOT_SELECT_PORT);
    EXPECT_EQ(VtableSlotOf(&S::get_Active), SERIAL_SLOT_GET_ACTIVE);
    EXPECT_EQ(VtableSlotOf(&S::Transfer), SERIAL_SLOT_TRANSFER);
    EXPECT_EQ(VtableSlotOf(&S::get_TcpServer), SERIAL_SLOT_GET_TCP_SERVER);
    EXPECT_EQ(VtableSlotOf(&S::get_SilentInterval), SERIAL_SLOT_GET_SILENT_INTERVAL);
    EXPECT_EQ(VtableSlotOf(&S::put_SilentInterval), SERIAL_SLOT_PUT_SILENT_INTERVAL);
    EXPECT_EQ(VtableSlotOf(&S::get_Timeout), SERIAL_SLOT_GET_TIMEOUT);
    EXPECT_EQ(VtableSlotOf(&S::put_Timeout), SERIAL_SLOT_PUT_TIMEOUT);
    EXPECT_EQ(VtableSlotOf(&S::get_StopBits), SERIAL_SLOT_GET_STOP_BITS);
    EXPECT_EQ(VtableSlotOf(&S::put_StopBits), SERIAL_SLOT_PUT_STOP_BITS);
    EXPECT_EQ(VtableSlotOf(&S::get_Mode), SERIAL_SLOT_GET_MODE);
    EXPECT_EQ(VtableSlotOf(&S::put_Mode), SERIAL_SLOT_PUT_MODE);
    EXPECT_EQ(VtableSlotOf(&S::get_ByteSize), SERIAL_SLOT_GET_BYTE_SIZE);
    EXPECT_EQ(VtableSlotOf(&S::put_ByteSize), SERIAL_SLOT_PUT_BYTE_SIZE);
    EXPECT_EQ(VtableSlotOf(&S::get_ErrorDelay), SERIAL_SLOT_GET_ERROR_DELAY);
    EXPECT_EQ(VtableSlotOf(&S::put_ErrorDelay), SERIAL_SLOT_PUT_ERROR_DELAY);
    EXPECT_EQ(VtableSlotOf(&T::get_Address), TCP_SLOT_GET_ADDRESS);
    EXPECT_EQ(VtableSlotOf(&T::put_Address), TCP_SLOT_PUT_ADDRESS);
    EXPECT_EQ(VtableSlotOf(&T::get_Port), TCP_SLOT_GET_PORT);
    EXPECT_EQ(VtableSlotOf(&T::put_Port), TCP_SLOT_PUT_PORT);
    EXPECT_EQ(VtableSlotOf(&T::Start), TCP_SLOT_START);
    EXPECT_EQ(VtableSlotOf(&T::Stop), TCP_SLOT_STOP);
    EXPECT_EQ(VtableSlotOf(&T::get_Running), TCP_SLOT_GET_RUNNING);
}

}  // namespace
