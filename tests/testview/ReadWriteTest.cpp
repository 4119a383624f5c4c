// One read and one write as the test window makes them, against a scripted
// master: what goes out for the form's texts, and what rows come back.
#include <gtest/gtest.h>

#include "core/ModbusException.h"
#include "tests/support/FakeModbus.h"
#include "testview/ReadWrite.h"
#include "testview/RowFormat.h"

namespace {
using Rows = std::vector<CString>;

WORD Field(const CByteArray& request, size_t i) {
    return WORD((request[i] << 8) | request[i + 1]);
}

// A register read's answer: unit, function, byte count, the values.
CByteArray RegisterAnswer(BYTE byFunction, const CWordArray& values) {
    CByteArray bytes{1, byFunction, BYTE(2 * values.size())};
    for (WORD w : values) {
        bytes.push_back(BYTE(w >> 8));
        bytes.push_back(BYTE(w));
    }
    return bytes;
}

int Type32(Kind32 kind, WordOrder order) {
    return TYPE_SIGNED_32_FIRST + int(kind) * WORD_ORDER_COUNT + int(order);
}

int Type64(Kind32 kind, WordOrder order) {
    return TYPE_SIGNED_64_FIRST + int(kind) * WORD_ORDER_COUNT + int(order);
}

CReadSettings Settings(CModbus* pModbus, int nFunction, int nType, const char* pszAddress,
                       const char* pszQuantity, const char* pszDevice = "1") {
    return {pModbus, nFunction, nType, pszDevice, pszAddress, pszQuantity, ""};
}

// One read's registers (or bits) as its data type decodes them: each value
// as its kind, its row as the list shows it (labelled by its address) and its
// exact text, in quotes where it is not a number; and the registers a write
// of it sends.
constexpr int BITS = -100;  // a bit read: registers holds the bits
struct DecodeCase {
    const char* pszName;
    int nDataType;
    ValueKind kind;
    WORD wStart;
    CWordArray registers;
    std::vector<std::pair<CString, CString>> values;  // row, exact text
};
DecodeCase Case(const char* pszName, int nDataType, ValueKind kind, WORD wStart,
                CWordArray registers, std::vector<std::pair<CString, CString>> values) {
    return {pszName, nDataType, kind, wStart, std::move(registers), std::move(values)};
}
void PrintTo(const DecodeCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

class DecodeValuesTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeValuesTest, KindRowAndExactTextOfEachValue) {
    const DecodeCase& c = GetParam();
    const CDecodedValues values =
        c.nDataType == BITS
            ? DecodeValues(c.wStart, CByteArray(c.registers.begin(), c.registers.end()))
            : DecodeValues(c.nDataType, c.wStart, c.registers);
    ASSERT_EQ(values.size(), c.values.size());
    const Rows rows = RowTexts(values);
    for (size_t i = 0; i < values.size(); ++i) {
        const CTypedValue& v = values[i];
        EXPECT_EQ(v.kind, c.kind) << i;
        EXPECT_EQ(rows[i], c.values[i].first) << i;
        EXPECT_EQ(rows[i].rfind("[" + std::to_string(v.nAddress) + "]=", 0), 0u) << i;
        EXPECT_EQ(IsTextValue(v) ? "'" + ExactText(v) + "'" : ExactText(v), c.values[i].second)
            << i;
        if (c.nDataType != BITS) {
            const long n = long(RegistersPerValue(c.nDataType));
            EXPECT_EQ(ValueRegisters(c.nDataType, v.nBits),
                      CWordArray(c.registers.begin() + n * long(i),
                                 c.registers.begin() + n * long(i + 1)))
                << i;
        }
    }
}

using K = ValueKind;
using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    EachTypeAndOrder, DecodeValuesTest,
    testing::Values(
        Case("Char", TYPE_CHAR, K::Char, 0, {0x4142, 0x0041, 0x4100, 0x00E9},
             {{"[0]=B 0x4142", "'B'"},
              {"[1]=A 0x41", "'A'"},
              {"[2]=", "'\0'"s},
              {"[3]=\xE9 0xe9", "'\xE9'"}}),
        Case("Signed16", TYPE_SIGNED_16, K::Int16, 0, {0xFFFF, 0x8000, 0},
             {{"[0]=-1 0xffff", "-1"}, {"[1]=-32768 0x8000", "-32768"}, {"[2]=0 0x0", "0"}}),
        Case("Unsigned16PastTheLastAddress", TYPE_UNSIGNED_16, K::Uint16, 65535,
             {0xFFFF, 0x8000, 7},
             {{"[65535]=65535 0xffff", "65535"},
              {"[65536]=32768 0x8000", "32768"},
              {"[65537]=7 0x7", "7"}}),
        Case("NoDataTypeIsUnsigned16", -1, K::Uint16, 3, {0x8000}, {{"[3]=32768 0x8000", "32768"}}),
        Case("Hex16", TYPE_HEX_16, K::Hex16, 9, {0x00AB, 0xFFFF},
             {{"[9]=0x00AB ", "'0x00AB'"}, {"[10]=0xFFFF ", "'0xFFFF'"}}),
        Case("Binary16", TYPE_BINARY_16, K::Binary16, 0, {0x8001},
             {{"[0]=1000000000000001 ", "'1000000000000001'"}}),
        Case("FloatLowFirst", TYPE_FLOAT, K::Float, 100, {0, 0x3FC0, 0, 0xC000, 0x78EC, 0x60AD},
             {{"[100]=1.5 ", "1.5"}, {"[102]=-2 ", "-2"}, {"[104]=1e+20 ", "1.00000002e+20"}}),
        Case("FloatReverseNotFinite", TYPE_FLOAT_REVERSE, K::Float, 0, {0x7FC0, 0, 0xFF80, 0},
             {{"[0]=nan ", "'nan'"}, {"[2]=-inf ", "'-inf'"}}),
        Case("DoubleLowFirst", TYPE_DOUBLE, K::Double, 0,
             {0x999A, 0x9999, 0x9999, 0x3FB9, 0, 0, 0, 0x4008},
             {{"[0]=0.1 ", "0.10000000000000001"}, {"[4]=3 ", "3"}}),
        Case("DoubleReverse", TYPE_DOUBLE_REVERSE, K::Double, 20,
             {0x3FF0, 0, 0, 0, 0x7FF0, 0, 0, 0}, {{"[20]=1 ", "1"}, {"[24]=inf ", "'inf'"}}),
        Case("Signed32ABCD", Type32(Kind32::Signed, WordOrder::ABCD), K::Int32, 65534,
             {0xFFFF, 0xFFFF, 0x8000, 0},
             {{"[65534]=-1 ", "-1"}, {"[65536]=-2147483648 ", "-2147483648"}}),
        Case("Unsigned32CDAB", Type32(Kind32::Unsigned, WordOrder::CDAB), K::Uint32, 100,
             {0x5678, 0x1234}, {{"[100]=305419896 ", "305419896"}}),
        Case("Unsigned32DCBAOddRegisterLeftOut", Type32(Kind32::Unsigned, WordOrder::DCBA),
             K::Uint32, 0, {0xFFFF, 0xFFFF, 0x7856, 0x3412, 1},
             {{"[0]=4294967295 ", "4294967295"}, {"[2]=305419896 ", "305419896"}}),
        Case("Float32BADC", Type32(Kind32::Float, WordOrder::BADC), K::Float, 0, {0xF147, 0x0020},
             {{"[0]=123456 ", "123456"}}),
        Case("Float32DCBA", Type32(Kind32::Float, WordOrder::DCBA), K::Float, 0, {0xCDCC, 0xCC3D},
             {{"[0]=0.1 ", "0.100000001"}}),
        // 0x0123456789ABCDEF, 0xFEDCBA9876543210 and 0.1 (0x3FB999999999999A):
        // each word order once, each kind once; the order is the kind's own.
        Case("Signed64ABCDOddRegistersLeftOut", Type64(Kind32::Signed, WordOrder::ABCD), K::Int64,
             65534, {0x0123, 0x4567, 0x89AB, 0xCDEF, 0xFEDC, 0xBA98, 0x7654, 0x3210, 1, 2, 3},
             {{"[65534]=81985529216486895 ", "81985529216486895"},
              {"[65538]=-81985529216486896 ", "-81985529216486896"}}),
        Case("Signed64CDAB", Type64(Kind32::Signed, WordOrder::CDAB), K::Int64, 0,
             {0x3210, 0x7654, 0xBA98, 0xFEDC}, {{"[0]=-81985529216486896 ", "-81985529216486896"}}),
        Case("Unsigned64BADC", Type64(Kind32::Unsigned, WordOrder::BADC), K::Uint64, 0,
             {0xDCFE, 0x98BA, 0x5476, 0x1032},
             {{"[0]=18364758544493064720 ", "18364758544493064720"}}),
        Case("Float64DCBA", Type64(Kind32::Float, WordOrder::DCBA), K::Double, 0,
             {0x9A99, 0x9999, 0x9999, 0xB93F}, {{"[0]=0.1 ", "0.10000000000000001"}}),
        Case("Bits", BITS, K::Bit, 65535, {1, 0}, {{"[65535]=1 ", "1"}, {"[65536]=0 ", "0"}})),
    [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.pszName; });

TEST(ReadOnce, TextsParseAsTheFormParsesThem) {
    CFakeModbus master;
    master.m_bRepeatLast = true;
    master.Play(1);
    // Quantity 300 reads 44, address 70000 is 4464, device 300 is 44.
    CReadResult r = ReadOnce(
        Settings(&master, READ_OUTPUT_REGISTERS, TYPE_UNSIGNED_16, "70000", "300", " 300x"));
    ASSERT_EQ(master.m_requests.size(), 1u);
    EXPECT_EQ(master.m_requests[0][0], 44);
    EXPECT_EQ(Field(master.m_requests[0], 2), 4464);
    EXPECT_EQ(Field(master.m_requests[0], 4), 44);
    ASSERT_EQ(r.list.rows.size(), 44u);
    EXPECT_EQ(r.list.rows[0], "[4464]=0 0x0");
    // A failed read: zero-filled rows, the status text names the failure.
    EXPECT_EQ(r.wStatus, 1);
    EXPECT_TRUE(r.Failed());
    EXPECT_EQ(r.strStatus, "Time Out Error");

    // Quantity 256 reads nothing and empties the list; empty texts are 0.
    r = ReadOnce(Settings(&master, READ_INPUT_STATUS, TYPE_CHAR, "", "256", ""));
    EXPECT_EQ(master.m_requests.back()[0], 0);
    EXPECT_EQ(master.m_requests.back()[1], 2);
    EXPECT_EQ(Field(master.m_requests.back(), 4), 0);
    EXPECT_TRUE(r.list.rows.empty());
    EXPECT_EQ(r.list.nTrim, 0);
}

TEST(ReadOnce, EachFunctionAndTypeReadsAndFormatsItsValues) {
    CFakeModbus master;
    // A float of 1.5, least significant word first, at 10.
    master.Play(0, RegisterAnswer(4, {0x0000, 0x3FC0}));
    CReadResult r = ReadOnce(Settings(&master, READ_INPUT_REGISTERS, TYPE_FLOAT, "10", "1"));
    EXPECT_EQ(master.m_requests.back()[1], 4);
    EXPECT_EQ(Field(master.m_requests.back(), 4), 2);
    EXPECT_EQ(r.list.rows, (Rows{"[10]=1.5 "}));
    EXPECT_EQ(r.strStatus, "Ok");
    EXPECT_TRUE(r.bRead);

    master.Play(0, RegisterAnswer(3, {0x3FF0, 0, 0, 0}));
    r = ReadOnce(Settings(&master, READ_OUTPUT_REGISTERS, TYPE_DOUBLE_REVERSE, "20", "1"));
    EXPECT_EQ(Field(master.m_requests.back(), 4), 4);
    EXPECT_EQ(r.list.rows, (Rows{"[20]=1 "}));

    master.Play(0, CByteArray{1, 1, 1, 0x05});
    r = ReadOnce(Settings(&master, READ_OUTPUT_STATUS, TYPE_FLOAT, "7", "3"));
    EXPECT_EQ(r.list.rows, (Rows{"[7]=1 ", "[8]=0 ", "[9]=1 "}));

    // 32-bit types read two registers per value, in their word order.
    master.Play(0, RegisterAnswer(3, {0x5678, 0x1234, 0x5678, 0x1234}));
    r = ReadOnce(Settings(&master, READ_OUTPUT_REGISTERS, Type32(Kind32::Unsigned, WordOrder::CDAB),
                          "100", "2"));
    EXPECT_EQ(Field(master.m_requests.back(), 4), 4);
    EXPECT_EQ(r.list.rows, (Rows{"[100]=305419896 ", "[102]=305419896 "}));
    master.Play(0, RegisterAnswer(4, {0xF147, 0x0020}));
    r = ReadOnce(
        Settings(&master, READ_INPUT_REGISTERS, Type32(Kind32::Float, WordOrder::BADC), "0", "1"));
    EXPECT_EQ(master.m_requests.back()[1], 4);
    EXPECT_EQ(r.list.rows, (Rows{"[0]=123456 "}));
    // The loop-back test writes no row; the list is cut to Quantity.
    master.Play(0, CByteArray{1, 8, 0, 0, 0x12, 0x34});
    r = ReadOnce(Settings(&master, READ_LOOPBACK, TYPE_CHAR, "0", "4"));
    EXPECT_FALSE(r.list.bWroteRows);
    EXPECT_EQ(r.list.nTrim, 4);
}

TEST(ReadOnce, NothingIsReadWithoutAMasterAndAThrowingMasterIsAFailedRead) {
    EXPECT_FALSE(ReadOnce(Settings(nullptr, READ_OUTPUT_REGISTERS, 1, "0", "1")).bRead);

    CFakeModbus master;
    master.m_bThrowOnError = TRUE;
    master.Play(1);
    CReadResult r;
    ASSERT_NO_THROW(r = ReadOnce(Settings(&master, READ_OUTPUT_REGISTERS, 1, "0", "1")));
    EXPECT_TRUE(r.bRead);
    EXPECT_TRUE(r.bException);
    EXPECT_TRUE(r.Failed());
    EXPECT_EQ(r.strStatus, "Time Out Error error #1");
    EXPECT_LT(r.list.nMinQuantity, 0);  // the list stays as it is
}

// The register values one write sent: a function 6 value or the function 16 block.
CWordArray Written(const CByteArray& request) {
    if (request[1] == 5 || request[1] == 6) {
        return {Field(request, 4)};
    }
    CWordArray values;
    for (size_t i = 7; i + 1 < request.size(); i += 2) {
        values.push_back(Field(request, i));
    }
    return values;
}

// What goes out for the form's value in each data type, and what the status
// bar says of it: the value as it went out, in the data type's terms, and
// where it went.
TEST(WriteOnce, ValuesAsTheFormTakesThem) {
    struct Case {
        int nFunction;
        int nType;
        const char* pszValue;
        const char* pszShown;
        CWordArray sent;      // empty: nothing is written
        bool bError = false;  // refused with a message
    };
    const int P = WRITE_PRESET_SINGLE_REGISTER;
    const int C = WRITE_FORCE_SINGLE_COIL;
    const Case cases[] = {
        {C, TYPE_CHAR, "1", "1", {0xFF00}},
        {C, TYPE_CHAR, "0", "0", {0x0000}},
        {C, TYPE_CHAR, "2", "0", {0x0000}},
        {C, TYPE_CHAR, "", "0", {0x0000}},
        {C, TYPE_CHAR, "65537", "1", {0xFF00}},
        {P, TYPE_CHAR, "  A", "A", {0x0041}},
        {P, TYPE_CHAR, "\xE9", "\xE9", {0xFFE9}},
        {P, TYPE_CHAR, "   ", "", {}},
        {P, TYPE_SIGNED_16, "-1", "-1", {0xFFFF}},
        {P, TYPE_UNSIGNED_16, "70000", "4464", {4464}},
        {P, TYPE_UNSIGNED_16, "-1", "65535", {0xFFFF}},
        {P, TYPE_UNSIGNED_16, "", "", {}},
        {P, TYPE_SIGNED_16, "  ", "0", {0}},
        {P, TYPE_FLOAT, "1.5", "1.5", {0x0000, 0x3FC0}},
        {P, TYPE_FLOAT_REVERSE, "1.5", "1.5", {0x3FC0, 0x0000}},
        {P, TYPE_DOUBLE_REVERSE, "1", "1", {0x3FF0, 0, 0, 0}},
        {P, TYPE_DOUBLE, "", "0", {0, 0, 0, 0}},
        {P, -1, "1", "", {}},
        {P, Type32(Kind32::Signed, WordOrder::ABCD), "305419896", "305419896", {0x1234, 0x5678}},
        {P, Type32(Kind32::Signed, WordOrder::CDAB), "-2", "-2", {0xFFFE, 0xFFFF}},
        {P, Type32(Kind32::Signed, WordOrder::ABCD), "2147483648", "", {}, true},
        {P, Type32(Kind32::Signed, WordOrder::ABCD), "12abc", "", {}, true},
        {P,
         Type32(Kind32::Unsigned, WordOrder::DCBA),
         "4294967295 ",
         "4294967295",
         {0xFFFF, 0xFFFF}},
        {P, Type32(Kind32::Unsigned, WordOrder::DCBA), "305419896", "305419896", {0x7856, 0x3412}},
        {P, Type32(Kind32::Unsigned, WordOrder::ABCD), "-1", "", {}, true},
        {P, Type32(Kind32::Unsigned, WordOrder::ABCD), "4294967296", "", {}, true},
        {P, Type32(Kind32::Float, WordOrder::BADC), "123456", "123456", {0xF147, 0x0020}},
        {P, Type32(Kind32::Float, WordOrder::ABCD), "1e39", "", {}, true},
        {P, Type32(Kind32::Float, WordOrder::ABCD), "  ", "", {}},
        // Integers exactly, not through a double, which would make
        // 81985529216486895 ...896.
        {P,
         Type64(Kind32::Signed, WordOrder::ABCD),
         "-9223372036854775808",
         "-9223372036854775808",
         {0x8000, 0, 0, 0}},
        {P,
         Type64(Kind32::Signed, WordOrder::CDAB),
         "81985529216486895",
         "81985529216486895",
         {0xCDEF, 0x89AB, 0x4567, 0x0123}},
        {P,
         Type64(Kind32::Signed, WordOrder::CDAB),
         "-81985529216486896",
         "-81985529216486896",
         {0x3210, 0x7654, 0xBA98, 0xFEDC}},
        {P, Type64(Kind32::Signed, WordOrder::ABCD), "9223372036854775808", "", {}, true},
        {P, Type64(Kind32::Signed, WordOrder::ABCD), "-9223372036854775809", "", {}, true},
        {P,
         Type64(Kind32::Unsigned, WordOrder::DCBA),
         "18446744073709551615",
         "18446744073709551615",
         {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}},
        {P,
         Type64(Kind32::Unsigned, WordOrder::BADC),
         "81985529216486895",
         "81985529216486895",
         {0x2301, 0x6745, 0xAB89, 0xEFCD}},
        {P, Type64(Kind32::Unsigned, WordOrder::ABCD), "-1", "", {}, true},
        {P, Type64(Kind32::Unsigned, WordOrder::ABCD), "18446744073709551616", "", {}, true},
        {P, Type64(Kind32::Float, WordOrder::DCBA), "0.1", "0.1", {0x9A99, 0x9999, 0x9999, 0xB93F}},
        {P, Type64(Kind32::Float, WordOrder::ABCD), "1e309", "", {}, true},
        {P, Type64(Kind32::Float, WordOrder::ABCD), "abc", "", {}, true},
        {P, TYPE_HEX_16, "0xBEEF", "0xBEEF", {0xBEEF}},
        {P, TYPE_HEX_16, "beef", "0xBEEF", {0xBEEF}},
        {P, TYPE_HEX_16, "10000", "", {}, true},
        {P, TYPE_BINARY_16, "1000000000000001", "1000000000000001", {0x8001}},
        {P, TYPE_BINARY_16, "101", "0000000000000101", {0x0005}},
        {P, TYPE_BINARY_16, "102", "", {}, true},
    };
    for (const Case& c : cases) {
        CFakeModbus master;
        master.m_bRepeatLast = true;
        master.Play(1);
        const CWriteSettings settings{&master, c.nFunction, c.nType, "300", "70000", c.pszValue};
        CWriteResult r = WriteOnce(settings);
        SCOPED_TRACE(std::string(c.pszValue) + " as type " + std::to_string(c.nType));
        if (c.sent.empty()) {
            EXPECT_TRUE(master.m_requests.empty());
            EXPECT_FALSE(r.bWritten);
            EXPECT_EQ(r.strError.empty(), !c.bError);
            continue;
        }
        ASSERT_EQ(master.m_requests.size(), 1u);
        EXPECT_EQ(master.m_requests[0][1], c.nFunction == C ? 5 : c.sent.size() == 1 ? 6 : 16);
        EXPECT_EQ(master.m_requests[0][0], 44);
        EXPECT_EQ(Field(master.m_requests[0], 2), 4464);
        EXPECT_EQ(Written(master.m_requests[0]), c.sent);
        EXPECT_EQ(r.strError, "Time Out Error");
        // 70000 goes out as register 4464, and is told so.
        r.qwMicros = 410;
        EXPECT_EQ(WriteDoneText(settings, r), "Wrote " + std::string(c.pszShown) + " to " +
                                                  (c.nFunction == C ? "coil" : "holding register") +
                                                  " 4464 of device 44 (0.41 ms)");
    }
}

TEST(WriteOnce, AThrowingMasterGivesItsTextInsteadOfEscaping) {
    CFakeModbus master;
    master.m_bThrowOnError = TRUE;
    master.Play(MODBUS_EXCEPTION_BASE + 2);
    CWriteResult r;
    ASSERT_NO_THROW(
        r = WriteOnce({&master, WRITE_PRESET_SINGLE_REGISTER, TYPE_SIGNED_16, "1", "0", "5"}));
    EXPECT_EQ(r.strError, "Modbus device return an exception code 2 error #32770");
    EXPECT_NE(r.wStatus, 0);
}
}  // namespace
