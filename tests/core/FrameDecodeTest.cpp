#include "core/FrameDecode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "core/Modbus.h"

namespace {
using FrameDecode::EFraming;

CByteArray Hex(const std::string& str) {
    CByteArray bytes;
    std::istringstream in(str);
    std::string strByte;
    while (in >> strByte) {
        bytes.push_back(BYTE(std::strtoul(strByte.c_str(), nullptr, 16)));
    }
    return bytes;
}

std::string Repeat(const std::string& str, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        s += str;
    }
    return s;
}

// A request alone (no answer), or an answer to a request, both framed alike:
// bare (U), behind the 6-byte Modbus/TCP header (T), or with a CRC (R).
constexpr EFraming U = EFraming::UNIT_PDU;
constexpr EFraming T = EFraming::TCP_HEADER;
constexpr EFraming R = EFraming::RTU;

struct CFrameCase {
    const char* pszName;
    EFraming framing;
    std::string strRequest;
    std::string strAnswer;
    std::string strWant;
};

class FrameDecodeCase : public ::testing::TestWithParam<CFrameCase> {};

TEST_P(FrameDecodeCase, TextSaysWhatTheBytesMeanOrWhyNot) {
    const CFrameCase& c = GetParam();
    const EFraming framing = c.framing;
    const CByteArray request = Hex(c.strRequest);
    const CByteArray answer = Hex(c.strAnswer);
    EXPECT_EQ(answer.empty() ? FrameDecode::DecodeRequest(request.data(), request.size(), framing)
                             : FrameDecode::DecodeAnswer(request.data(), request.size(), framing,
                                                         answer.data(), answer.size(), framing),
              c.strWant);
}

const CFrameCase kCases[] = {
    // Requests of each function the master sends, and of 15.
    {"ReadCoils", U, "01 01 00 13 00 25", "", "unit 1: read coils, address 19, quantity 37"},
    {"ReadHoldingTcp", T, "00 00 00 00 00 06 01 03 00 00 00 0A", "",
     "unit 1: read holding registers, address 0, quantity 10"},
    {"CoilOn", U, "11 05 00 AC FF 00", "", "unit 17: write single coil, address 172, on"},
    {"CoilNeither", U, "01 05 00 01 12 34", "",
     "unit 1: write single coil, address 1, value 0x1234 (neither on nor off)"},
    {"WriteRegister", U, "01 06 00 01 00 03", "",
     "unit 1: write single register, address 1, value 3"},
    {"LoopBack", U, "01 08 00 00 A5 37", "", "unit 1: diagnostics, return query data 0xA537"},
    {"WriteCoils", U, "01 0F 00 13 00 0A 02 CD 01", "",
     "unit 1: write multiple coils, address 19, quantity 10: 1 0 1 1 0 0 1 1 1 0"},
    {"WriteRegisters", U, "01 10 00 01 00 02 04 00 0A 01 02", "",
     "unit 1: write multiple registers, address 1, quantity 2: 10 258"},
    {"OtherFunction", U, "01 11", "", "unit 1: report server id"},
    // Requests that do not decode.
    {"RequestShort", U, "01 03 00 00", "",
     "not decoded: too short for read holding registers request: 3 PDU bytes, needs 5"},
    {"ReadWriteRequest", U, "01 17 00 03 00 06 00 0E 00 02 04 00 FF 01 00", "",
     "unit 1: read/write multiple registers, read address 3, quantity 6, write address 14, "
     "quantity 2: 255 256"},
    {"ReadWriteByteCount", U, "01 17 00 03 00 06 00 0E 00 02 02 00 FF", "",
     "not decoded: byte count 2 for 2 registers"},
    {"RequestByteCount", U, "01 10 00 01 00 02 06 00 0A 01 02", "",
     "not decoded: byte count 6 but 4 bytes follow"},
    {"RequestCountLowByte", U, "01 10 00 01 00 81 02 00 0A", "",
     "not decoded: byte count 2 for 129 registers"},
    {"TcpLength", T, "00 00 00 00 00 09 01 03 00 00 00 0A", "",
     "not decoded: length field 9 but 6 bytes follow"},
    {"NoFunction", U, "01", "", "not decoded: too short for a device address and function: 1 byte"},
    // Answers.
    {"Registers", U, "01 03 00 00 00 02", "01 03 04 00 07 00 08",
     "unit 1: read holding registers: 7 8"},
    {"ManyRegistersTcp", T, "00 00 00 00 00 06 01 04 00 00 00 12",
     "00 00 00 00 00 27 01 04 24" + Repeat(" 00 01", 18),
     "unit 1: read input registers: " + Repeat("1 ", 15) + "1 ... (2 more)"},
    {"Coils", U, "01 01 00 00 00 0A", "01 01 02 CD 01", "unit 1: read coils: 1 0 1 1 0 0 1 1 1 0"},
    {"Exception", U, "01 03 00 62 00 05", "01 83 02",
     "unit 1: read holding registers, exception 2 (illegal data address)"},
    {"GatewayException", T, "00 00 00 00 00 06 05 04 00 00 00 01", "00 00 00 00 00 03 05 84 0B",
     "unit 5: read input registers, exception 11 (gateway target device failed to respond)"},
    {"UnnamedException", U, "01 06 00 01 00 03", "01 86 0C",
     "unit 1: write single register, exception 12"},
    {"Echo", U, "01 06 00 01 00 03", "01 06 00 01 00 03",
     "unit 1: write single register, address 1, value 3"},
    {"WrongEcho", U, "01 06 00 01 00 03", "01 06 00 01 00 04",
     "not decoded: not an echo of the request: address 1, value 4"},
    {"WriteRegistersAnswer", U, "01 10 00 01 00 02 04 00 0A 01 02", "01 10 00 01 00 02",
     "unit 1: write multiple registers, address 1, quantity 2"},
    {"MaskWrite", U, "01 16 00 04 00 F2 00 25", "01 16 00 04 00 F2 00 25",
     "unit 1: mask write register, address 4, AND 0x00F2, OR 0x0025"},
    {"MaskWriteWrongEcho", U, "01 16 00 04 00 F2 00 25", "01 16 00 04 00 F2 00 26",
     "not decoded: not an echo of the request: address 4, AND 0x00F2, OR 0x0026"},
    {"ReadWriteRegisters", U, "01 17 00 03 00 02 00 0E 00 01 02 00 FF", "01 17 04 00 01 00 02",
     "unit 1: read/write multiple registers: 1 2"},
    // Answers that do not decode.
    {"AnswerByteCount", U, "01 03 00 00 00 03", "01 03 06 00 01 00 02",
     "not decoded: byte count 6 but 4 bytes follow"},
    {"AnswerQuantity", U, "01 03 00 00 00 03", "01 03 04 00 01 00 02",
     "not decoded: byte count 4 for 3 registers"},
    {"OtherFunctionAnswered", U, "01 03 00 00 00 01", "01 04 02 00 01",
     "not decoded: function 0x03 answered 0x04"},
    {"OtherUnitAnswered", U, "01 03 00 00 00 01", "02 03 02 00 01",
     "not decoded: unit 2 answered for unit 1"},
    // RTU frames, whose CRC must prove right before anything is decoded.
    {"RtuRequest", R, "01 03 00 00 00 02 C4 0B", "",
     "unit 1: read holding registers, address 0, quantity 2"},
    {"RtuAnswer", R, "01 03 00 00 00 02 C4 0B", "01 03 04 00 07 00 08 4A 34",
     "unit 1: read holding registers: 7 8"},
    {"RtuException", R, "01 03 00 00 00 02 C4 0B", "01 83 02 C0 F1",
     "unit 1: read holding registers, exception 2 (illegal data address)"},
    {"RtuWrongCrc", R, "01 03 00 00 00 02 C4 0B", "01 03 04 00 07 00 08 4A 35",
     "not decoded: CRC 4A 35, expected 4A 34"},
    {"RtuTooShort", R, "01 03 C4", "",
     "not decoded: too short for a device address, function and CRC: 3 bytes"},
    {"ExceptionWithoutCode", U, "01 03 00 00 00 01", "01 83",
     "not decoded: an exception answer of 1 PDU byte, not 2"},
};

INSTANTIATE_TEST_SUITE_P(Frames, FrameDecodeCase, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(FrameDecode, StatusTextsNameTheirExceptionAfterItsNumber) {
    const WORD wIllegalAddress = MODBUS_EXCEPTION_BASE + 2;
    EXPECT_EQ(FrameDecode::NameExceptionStatus("Modbus device return an exception code 2",
                                               wIllegalAddress),
              "Modbus device return an exception code 2 (illegal data address)");
    // A throwing master's text goes on after the number.
    EXPECT_EQ(FrameDecode::NameExceptionStatus(
                  "Modbus device return an exception code 10 error #32778", 0x800A),
              "Modbus device return an exception code 10 (gateway path unavailable) error #32778");
    EXPECT_EQ(FrameDecode::NameExceptionStatus("Ok", 0), "Ok");
    EXPECT_EQ(FrameDecode::NameExceptionStatus("code 1", MODBUS_EXCEPTION_BASE + 1),
              "code 1 (illegal function)");
}

}  // namespace
