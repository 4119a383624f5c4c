#include <gtest/gtest.h>

#include <cstring>

#include "core/ModbusException.h"
#include "platform/Archive.h"
#include "tests/support/FakeModbus.h"
#include "tests/support/Serialized.h"

namespace {

// Each operation's request bytes and expected answer length.
TEST(ModbusFrames, RequestsAndExpectedLengths) {
    CFakeModbus m;
    CByteArray bits(37);
    CWordArray regs(1);
    m.ReadOutputStatus(0x11, 0x0013, 37, bits);
    m.ReadInputRegisters(0x11, 8, 1, regs);
    m.ForceSingleCoil(0x11, 0x00AC, 1);
    m.PresetSingleRegister(0x11, 1, 3);
    m.LoopbackTest(1);
    m.PresetMultipleRegisters(0x11, 1, 2, CWordArray{0x000A, 0x0102});
    m.ReadInputStatus(0x111, 0xFFFF, 1, bits);  // only the device's low byte is sent

    EXPECT_EQ(m.m_requests, (std::vector<CByteArray>{
                                {0x11, 0x01, 0x00, 0x13, 0x00, 0x25},
                                {0x11, 0x04, 0x00, 0x08, 0x00, 0x01},
                                {0x11, 0x05, 0x00, 0xAC, 0xFF, 0x00},
                                {0x11, 0x06, 0x00, 0x01, 0x00, 0x03},
                                {0x01, 0x08, 0x00, 0x00, 0xA5, 0x37},
                                {0x11, 0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02},
                                {0x11, 0x02, 0xFF, 0xFF, 0x00, 0x01}}));
    EXPECT_EQ(m.m_expected, (std::vector<DWORD>{8, 5, 6, 6, 6, 6, 4}));
    for (BOOL flag : m.m_flags) {
        EXPECT_EQ(flag, FALSE);
    }
}

TEST(ModbusFrames, CoilValueIsOnOnlyForStateOne) {
    CFakeModbus m;
    for (WORD state : {0, 1, 2, 0xFFFF}) {
        m.ForceSingleCoil(1, 0, state);
    }
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(m.m_requests[i][4], i == 1 ? 0xFF : 0x00) << i;
    }
}

TEST(ModbusFrames, LongPresetCarriesLowByteOfByteCount) {
    CFakeModbus m;
    m.PresetMultipleRegisters(1, 0, 130, CWordArray(130, 0x1234));
    const CByteArray& r = m.m_requests[0];
    ASSERT_EQ(r.size(), 7u + 260u);
    EXPECT_EQ(r[4], 0x00);
    EXPECT_EQ(r[5], 130);
    EXPECT_EQ(r[6], 4);  // 260 & 0xFF
    EXPECT_EQ(r[7], 0x12);
    EXPECT_EQ(r[266], 0x34);
}

TEST(ModbusFrames, FloatAndDoubleWordOrders) {
    CFakeModbus m;
    m.PresetRegisterFloat(1, 0, 1.0f, FALSE);
    m.PresetRegisterFloat(1, 0, 1.0f, TRUE);
    m.PresetRegisterDouble(1, 0, 1.0, FALSE);  // 0x3FF0000000000000
    m.PresetRegisterDouble(1, 0, -2.5, TRUE);  // 0xC004000000000000
    auto data = [&](size_t i) {
        return CByteArray(m.m_requests[i].begin() + 6, m.m_requests[i].end());
    };
    EXPECT_EQ(data(0), (CByteArray{4, 0x00, 0x00, 0x3F, 0x80}));
    EXPECT_EQ(data(1), (CByteArray{4, 0x3F, 0x80, 0x00, 0x00}));
    EXPECT_EQ(data(2), (CByteArray{8, 0, 0, 0, 0, 0, 0, 0x3F, 0xF0}));
    EXPECT_EQ(data(3), (CByteArray{8, 0xC0, 0x04, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(m.m_requests[2][5], 4);  // register count
}

TEST(ModbusUnpack, BitsRegistersFloatsDoubles) {
    CFakeModbus m;
    m.Play(0, {1, 1, 1, 0x05});
    CByteArray bits(3, 9);
    EXPECT_EQ(m.ReadOutputStatus(1, 0, 3, bits), 0);
    EXPECT_EQ(bits, (CByteArray{1, 0, 1}));

    m.Play(0, {1, 2, 2, 0x81, 0x01});  // 9 inputs over two bytes
    CByteArray inputs(9);
    EXPECT_EQ(m.ReadInputStatus(1, 0, 9, inputs), 0);
    EXPECT_EQ(inputs, (CByteArray{1, 0, 0, 0, 0, 0, 0, 1, 1}));

    m.Play(0, {1, 3, 4, 0x12, 0x34, 0xAB, 0xCD});
    CWordArray regs(2);
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 2, regs), 0);
    EXPECT_EQ(regs, (CWordArray{0x1234, 0xABCD}));

    m.Play(0, {1, 4, 4, 0x00, 0x00, 0x3F, 0x80});
    CFloatArray f(1);
    EXPECT_EQ(m.ReadInputRegistersFloat(1, 0, 1, f, FALSE), 0);
    EXPECT_EQ(f[0], 1.0f);
    EXPECT_EQ(m.m_requests.back()[5], 2);  // two registers per float
    m.Play(0, {1, 3, 4, 0x3F, 0x80, 0x00, 0x00});
    EXPECT_EQ(m.ReadOutputRegistersFloat(1, 0, 1, f, TRUE), 0);
    EXPECT_EQ(f[0], 1.0f);

    // 0x400921FB54442D18 (pi), registers least significant first, then reversed.
    m.Play(0, {1, 3, 8, 0x2D, 0x18, 0x54, 0x44, 0x21, 0xFB, 0x40, 0x09});
    CDoubleArray d(1);
    EXPECT_EQ(m.ReadOutputRegistersDouble(1, 0, 1, d, FALSE), 0);
    EXPECT_EQ(d[0], 3.141592653589793);
    EXPECT_EQ(m.m_requests.back()[5], 4);
    m.Play(0, {1, 4, 8, 0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18});
    EXPECT_EQ(m.ReadInputRegistersDouble(1, 0, 1, d, TRUE), 0);
    EXPECT_EQ(d[0], 3.141592653589793);
}

TEST(ModbusUnpack, CountZeroAndWrongByteCount) {
    CFakeModbus m;
    m.Play(0, {1, 3, 0});
    CWordArray none;
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 0, none), 0);
    EXPECT_EQ(m.m_expected.back(), 3u);
    // The byte count is not checked: data are taken by position.
    m.Play(0, {1, 3, 99, 0x00, 0x07});
    CWordArray one(1);
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, one), 0);
    EXPECT_EQ(one[0], 7);
}

TEST(ModbusChecks, WrongDeviceFunctionOrEcho) {
    CFakeModbus m;
    CWordArray regs(1, 5);
    m.Play(0, {2, 3, 2, 0, 1});
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, regs), 2);
    EXPECT_EQ(regs, CWordArray{0});  // a failed register read leaves zeros
    m.Play(0, {1, 4, 2, 0, 1});
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, regs), 2);

    CByteArray coils(2, 7);
    m.Play(0, {1, 2, 1, 3});
    EXPECT_EQ(m.ReadOutputStatus(1, 0, 2, coils), 2);
    EXPECT_EQ(coils, (CByteArray{7, 7}));  // a failed bit read leaves the array alone

    m.Play(0, {1, 0x10, 0, 1, 0, 3});  // count differs from the request's 2
    EXPECT_EQ(m.PresetMultipleRegisters(1, 1, 2, CWordArray{1, 2}), 2);
    m.Play(0, {1, 0x08, 0, 0, 0xA5, 0x37});
    EXPECT_EQ(m.LoopbackTest(1), 0);
    m.Play(0, {1, 0x08, 0, 0, 0xA5, 0x38});
    EXPECT_EQ(m.LoopbackTest(1), 2);
}

// An answer that arrived shorter than the operation needs is never read past
// its end nor passed off as zero-filled data.
TEST(ModbusChecks, ShortAnswerIsInvalid) {
    CFakeModbus m;
    m.Play(0, {1, 3, 4, 0x12, 0x34});  // two registers asked, one arrived
    CWordArray regs(2);
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 2, regs), 2);
    EXPECT_EQ(regs, (CWordArray{0, 0}));
    m.Play(0, {1, 5, 0, 1});
    EXPECT_EQ(m.ForceSingleCoil(1, 1, 1), 2);
    m.Play(0, {});
    CByteArray none;
    EXPECT_EQ(m.ReadInputStatus(1, 0, 0, none), 2);
}

// Lengths that no longer fit 16 bits reach the transport whole.
TEST(ModbusChecks, OversizedLengthsAreNotTruncated) {
    CFakeModbus m;
    CWordArray regs(40000);
    m.ReadOutputRegisters(1, 0, 40000, regs);
    EXPECT_EQ(m.m_expected.back(), 3u + 80000u);
    CFloatArray f(20000);
    m.ReadOutputRegistersFloat(1, 0, 20000, f, FALSE);
    EXPECT_EQ(m.m_expected.back(), 3u + 80000u);
    CDoubleArray d(16384);
    m.ReadInputRegistersDouble(1, 0, 16384, d, FALSE);
    EXPECT_EQ(m.m_expected.back(), 3u + 131072u);
    m.PresetMultipleRegisters(1, 0, 40000, CWordArray(40000));
    EXPECT_EQ(m.m_requests.back().size(), 80007u);
}

TEST(ModbusRetries, AttemptsAndFailureShapes) {
    CFakeModbus m;
    m.m_nTries = 0;
    CWordArray regs(1);
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, regs), 1);
    EXPECT_EQ(m.m_requests.size(), 1u);

    m.m_requests.clear();
    m.m_nTries = 3;
    m.Play(0x8003);
    m.Play(1);
    m.Play(0, {1, 3, 2, 0, 9});
    m.Play(0, {1, 3, 2, 0, 8});
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, regs), 0);
    EXPECT_EQ(m.m_requests.size(), 3u);  // stops at the first success
    EXPECT_EQ(regs[0], 9);
    EXPECT_EQ(m.m_requests[0], m.m_requests[2]);  // the same frame each time

    m.m_requests.clear();
    m.m_answers.clear();
    m.Play(0x8003);
    m.m_bRepeatLast = true;
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 1, regs), 0x8003);
    EXPECT_EQ(m.m_requests.size(), 3u);

    // A failed float read yields zeros whatever the caller held.
    CFloatArray f(2, 5.0f);
    EXPECT_EQ(m.ReadOutputRegistersFloat(1, 0, 2, f, FALSE), 0x8003);
    EXPECT_EQ(f, (CFloatArray{0.0f, 0.0f}));
}

TEST(ModbusRetries, ThrowingMode) {
    CFakeModbus m;
    m.m_bThrowOnError = TRUE;
    m.m_nTries = 2;
    m.Play(0x8003);
    m.m_bRepeatLast = true;
    CWordArray regs(1, 4);
    char text[256];
    try {
        m.ReadOutputRegisters(1, 0, 1, regs);
        FAIL() << "no exception";
    } catch (CModbusException* e) {
        EXPECT_EQ(e->m_wStatus, 0x8003);
        EXPECT_EQ(e->m_strText, "Modbus device return an exception code 3");
        EXPECT_TRUE(e->GetErrorMessage(text, sizeof text));
        EXPECT_STREQ(text, "Modbus device return an exception code 3 error #32771");
        e->Delete();
    }
    EXPECT_EQ(m.m_requests.size(), 2u);  // one exception, after the last attempt
    EXPECT_EQ(regs[0], 4);               // the copy step is skipped

    m.m_answers.clear();
    m.m_bRepeatLast = false;
    m.Play(0, {1, 6, 0, 1, 0, 3});
    EXPECT_NO_THROW(m.PresetSingleRegister(1, 1, 3));

    m.Play(0, {9, 6, 0, 1, 0, 3});
    m.Play(0, {9, 6, 0, 1, 0, 3});
    try {
        m.PresetSingleRegister(1, 1, 3);
        FAIL() << "no exception";
    } catch (CModbusException* e) {
        e->GetErrorMessage(text, sizeof text);
        EXPECT_STREQ(text, "invalid returned device response error #2");
        e->GetErrorMessage(text, 8);
        EXPECT_STREQ(text, "invalid");
        e->Delete();
    }
}

TEST(ModbusTexts, StatusTexts) {
    CFakeModbus m;
    // The fixed texts are a table; what is worked out: the gaps and the
    // exception codes.
    const std::pair<WORD, const char*> texts[] = {
        {0, "Ok"},
        {4, ""},
        {999, ""},
        {0x8000, "Modbus device return an exception code 0"},
        {0x8002, "Modbus device return an exception code 2"},
        {0xFFFF, "Modbus device return an exception code 32767"}};
    for (const auto& [wStatus, pszText] : texts) {
        EXPECT_EQ(m.GetErrorText(wStatus), pszText) << wStatus;
    }

    CModbusException zero("Ok", 0);
    char text[64];
    zero.GetErrorMessage(text, sizeof text);
    EXPECT_STREQ(text, "Ok error");
}

TEST(ModbusSettings, SerializeRoundTripAndBytes) {
    CFakeModbus a;
    a.m_nTries = 0x0203;
    a.m_bThrowOnError = TRUE;
    a.m_dwReserved = 0xA1B2C3D4;
    a.m_dwLockTimeout = 5;
    CMemFile in(Stored(a));
    EXPECT_EQ(in.GetData(), (CByteArray{0x03, 0x02, 1, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1}));
    CArchive ar(&in, CArchive::load);
    CFakeModbus b;
    b.Serialize(ar);
    EXPECT_EQ(b.m_nTries, 0x0203);
    EXPECT_EQ(b.m_bThrowOnError, TRUE);
    EXPECT_EQ(b.m_dwReserved, 0xA1B2C3D4u);
    EXPECT_EQ(b.m_dwLockTimeout, 1000u);  // not stored
}

}  // namespace
