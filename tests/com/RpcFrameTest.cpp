// The wire codec: every remoted variant type both ways, refusals, and
// decoding of truncated, oversized and garbage input.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "ComTestSupport.h"
#include "platform/com/RpcFrame.h"
#include "platform/com/RpcFrameReader.h"
#include "platform/com/RpcSocket.h"
#include "transport/ModbusSerialServerPs.h"

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

VARIANT Scalar(VARTYPE vt, LONG n) {
    VARIANT var;
    VariantInit(&var);
    var.vt = vt;
    if (vt == VT_UI1) {
        var.bVal = static_cast<BYTE>(n);
    } else if (vt == VT_I2 || vt == VT_BOOL) {
        var.iVal = static_cast<SHORT>(n);
    } else {
        var.lVal = n;
    }
    return var;
}

LONG ValueOf(const VARIANT& var) {
    switch (var.vt) {
        case VT_UI1:
            return var.bVal;
        case VT_I2:
        case VT_BOOL:
            return var.iVal;
        case VT_I4:
        case VT_ERROR:
            return var.lVal;
        default:
            return 0;
    }
}

TEST(RpcFrame, ScalarsAndStringsRoundTrip) {
    struct {
        VARTYPE vt;
        LONG n;
    } cases[] = {{VT_EMPTY, 0},
                 {VT_NULL, 0},
                 {VT_I2, -2},
                 {VT_I2, 32767},
                 {VT_I4, -1},
                 {VT_I4, 0x12345678},
                 {VT_UI1, 255},
                 {VT_BOOL, VARIANT_TRUE},
                 {VT_ERROR, static_cast<LONG>(0x80020004)}};
    for (const auto& c : cases) {
        VARIANT var = Scalar(c.vt, c.n);
        CDecoded got(Encode(var));
        ASSERT_TRUE(got.bOk) << c.vt;
        EXPECT_EQ(got.var.vt, c.vt);
        EXPECT_EQ(ValueOf(got.var), c.n);
    }
    // A null string stays null, an empty one empty; code units above 0xFF survive.
    const OLECHAR text[] = u"Gr\u00fc\u00dfe \u20ac\U0001F600";
    BSTR strings[] = {nullptr, SysAllocString(u""), SysAllocString(text)};
    for (BSTR bstr : strings) {
        VARIANT var;
        VariantInit(&var);
        var.vt = VT_BSTR;
        var.bstrVal = bstr;
        CDecoded got(Encode(var));
        ASSERT_TRUE(got.bOk);
        ASSERT_EQ(got.var.vt, VT_BSTR);
        EXPECT_EQ(got.var.bstrVal == nullptr, bstr == nullptr);
        ASSERT_EQ(SysStringLen(got.var.bstrVal), SysStringLen(bstr));
        EXPECT_EQ(std::u16string(got.var.bstrVal != nullptr ? got.var.bstrVal : u""),
                  std::u16string(bstr != nullptr ? bstr : u""));
        SysFreeString(bstr);
    }
}

TEST(RpcFrame, OneDimensionalArraysRoundTripWithBounds) {
    for (VARTYPE vt : {VT_UI1, VT_I2, VT_I4}) {
        for (LONG lLbound : {0, 1, -3}) {
            std::vector<LONG> values = {0, 1, 127};
            if (vt != VT_UI1) {
                values.push_back(-32768);
                values.push_back(vt == VT_I4 ? -2147483647 - 1 : 32767);
            }
            for (const std::vector<LONG>& v : {values, std::vector<LONG>()}) {
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
    VARIANT none;
    VariantInit(&none);
    none.vt = VT_ARRAY | VT_UI1;
    CDecoded got(Encode(none));
    ASSERT_TRUE(got.bOk);
    EXPECT_EQ(got.var.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(got.var.parray, nullptr);
}

TEST(RpcFrame, ReferencesTravelAsTheirValues) {
    VARIANT inner = MakeArray(VT_I2, 0, {5, -6});
    VARIANT byVariant;
    VariantInit(&byVariant);
    byVariant.vt = VT_BYREF | VT_VARIANT;
    byVariant.pvarVal = &inner;
    CDecoded viaVariant(Encode(byVariant));
    ASSERT_TRUE(viaVariant.bOk);
    EXPECT_EQ(viaVariant.var.vt, VT_ARRAY | VT_I2);
    EXPECT_EQ(ArrayValues(viaVariant.var), (std::vector<LONG>{5, -6}));

    VARIANT byArray;
    VariantInit(&byArray);
    byArray.vt = VT_BYREF | VT_ARRAY | VT_I2;
    byArray.pparray = &inner.parray;
    CDecoded viaArray(Encode(byArray));
    ASSERT_TRUE(viaArray.bOk);
    EXPECT_EQ(viaArray.var.vt, VT_ARRAY | VT_I2);
    EXPECT_EQ(ArrayValues(viaArray.var), (std::vector<LONG>{5, -6}));

    LONG n = 77;
    VARIANT byLong;
    VariantInit(&byLong);
    byLong.vt = VT_BYREF | VT_I4;
    byLong.plVal = &n;
    CDecoded viaLong(Encode(byLong));
    ASSERT_TRUE(viaLong.bOk);
    EXPECT_EQ(viaLong.var.vt, VT_I4);
    EXPECT_EQ(viaLong.var.lVal, 77);

    // A reference to a reference is not a valid variant.
    VARIANT twice;
    VariantInit(&twice);
    twice.vt = VT_BYREF | VT_VARIANT;
    twice.pvarVal = &byArray;
    HRESULT hr = S_OK;
    Encode(twice, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    VariantClear(&inner);
}

TEST(RpcFrame, UnsupportedVariantsAreRefusedAndLeaveTheFrameAlone) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
    VARIANT twoDims;
    VariantInit(&twoDims);
    twoDims.vt = VT_ARRAY | VT_UI1;
    twoDims.parray = SafeArrayCreate(VT_UI1, 2, bounds);
    VARIANT doubles;
    VariantInit(&doubles);
    doubles.vt = VT_ARRAY | VT_R8;
    doubles.parray = SafeArrayCreateVector(VT_R8, 0, 1);
    VARIANT mislabelled;  // the variant says bytes, the array holds shorts
    VariantInit(&mislabelled);
    mislabelled.vt = VT_ARRAY | VT_UI1;
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
    VARIANT strings;
    VariantInit(&strings);
    strings.vt = VT_BSTR;
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
    auto encodeI2 = [](SHORT n) { return Encode(Scalar(VT_I2, n)); };
    SHORT nShort = 5;
    VARIANT typed;
    VariantInit(&typed);
    typed.vt = VT_BYREF | VT_I2;
    typed.piVal = &nShort;
    std::vector<BYTE> six = encodeI2(6);
    CRpcFrameReader reader(six.data(), six.size());
    ASSERT_TRUE(reader.GetInOutVariant(&typed));
    EXPECT_EQ(typed.vt, VT_BYREF | VT_I2);
    EXPECT_EQ(nShort, 6);
    // A typed reference keeps its value when another type comes back.
    std::vector<BYTE> other = Encode(Scalar(VT_I4, 9));
    CRpcFrameReader otherReader(other.data(), other.size());
    ASSERT_TRUE(otherReader.GetInOutVariant(&typed));
    EXPECT_EQ(nShort, 6);

    VARIANT target = MakeArray(VT_UI1, 0, {1, 2});
    VARIANT byVariant;
    VariantInit(&byVariant);
    byVariant.vt = VT_BYREF | VT_VARIANT;
    byVariant.pvarVal = &target;
    CRpcFrameReader byVariantReader(six.data(), six.size());
    ASSERT_TRUE(byVariantReader.GetInOutVariant(&byVariant));
    EXPECT_EQ(target.vt, VT_I2);  // the old array was freed (ASan would tell)
    EXPECT_EQ(target.iVal, 6);

    VARIANT plain = MakeArray(VT_UI1, 0, {1});
    CRpcFrameReader plainReader(six.data(), six.size());
    ASSERT_TRUE(plainReader.GetInOutVariant(&plain));
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

TEST(ProxyStubSlots, MatchTheInterfaceLayout) {
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::get_Port), SERIAL_SLOT_GET_PORT);
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::put_FlowControl), SERIAL_SLOT_PUT_FLOW_CONTROL);
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::SelectPort), SERIAL_SLOT_SELECT_PORT);
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::get_Active), SERIAL_SLOT_GET_ACTIVE);
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::Transfer), SERIAL_SLOT_TRANSFER);
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::get_TcpServer), SERIAL_SLOT_GET_TCP_SERVER);
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::get_SilentInterval),
              SERIAL_SLOT_GET_SILENT_INTERVAL);
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::put_ByteSize), SERIAL_SLOT_PUT_BYTE_SIZE);
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::get_ErrorDelay), SERIAL_SLOT_GET_ERROR_DELAY);
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::put_ErrorDelay), SERIAL_SLOT_PUT_ERROR_DELAY);
    EXPECT_EQ(VtableSlotOf(&IModbusTcpServer::get_Address), TCP_SLOT_GET_ADDRESS);
    EXPECT_EQ(VtableSlotOf(&IModbusTcpServer::put_Port), TCP_SLOT_PUT_PORT);
    EXPECT_EQ(VtableSlotOf(&IModbusTcpServer::get_Running), TCP_SLOT_GET_RUNNING);
}

}  // namespace
