// What the bytes of an exchange mean, as one line of text: the function by
// name, a request's address and quantity (and the values it writes), an
// answer's values or its exception by name. A frame that does not decode
// says why. The text is bounded: long value lists are cut short.
#pragma once

#include <cstddef>
#include <string>

#include "platform/WinTypes.h"

namespace FrameDecode {

// How captured bytes begin.
enum class EFraming {
    UNIT_PDU,    // the device address, then the PDU
    TCP_HEADER,  // transaction, protocol and length (6 bytes), then device address and PDU
    RTU,         // the device address, the PDU and the CRC-16, low byte first
};

// At most this many registers, or bits, are listed; the rest are counted.
constexpr size_t MAX_REGISTERS = 16;
constexpr size_t MAX_BITS = 32;

// "read holding registers", ...; nullptr for a function without a name.
const char* FunctionName(BYTE byFunction);
// "illegal data address", ...; nullptr for a code without a name.
const char* ExceptionName(BYTE byCode);
// "exception 2 (illegal data address)"; "exception 7" for a code without a name.
std::string ExceptionText(BYTE byCode);
// A status text with the exception's name after its number, when wStatus is
// an exception answer's status ("... exception code 2 (illegal data address)").
std::string NameExceptionStatus(const std::string& strStatus, WORD wStatus);

// Whether a request as a Modbus/TCP master captured it starts with its header
// (one never sent is captured as device address and PDU).
bool HasTcpHeader(const BYTE* p, size_t n);
// Whether bytes end with the CRC-16 of those before them, as a request that
// a master of RTU frames sent does (one never sent has no CRC).
bool HasRtuCrc(const BYTE* p, size_t n);

// "unit 1: read holding registers, address 0, quantity 10", or
// "not decoded: <why>".
std::string DecodeRequest(const BYTE* p, size_t n, EFraming framing);
// "unit 1: read holding registers: 7 8", "unit 1: read holding registers,
// exception 2 (illegal data address)", or "not decoded: <why>". The request
// it answers tells how many bits count and whether it is the right answer;
// a request that does not decode is not used.
std::string DecodeAnswer(const BYTE* pRequest, size_t nRequest, EFraming requestFraming,
                         const BYTE* pAnswer, size_t nAnswer, EFraming answerFraming);

}  // namespace FrameDecode
