#include "FrameDecode.h"

#include <cstdio>
#include <cstring>

#include "Crc16.h"
#include "FunctionCodes.h"
#include "Modbus.h"

namespace FrameDecode {

namespace {
using namespace ModbusFunction;

constexpr size_t kTcpHeader = 6;
constexpr size_t kCrc = 2;

// A frame split into its device address and its PDU, function first.
struct CPdu {
    BYTE byUnit = 0;
    BYTE byFunction = 0;
    const BYTE* pData = nullptr;  // what follows the function byte
    size_t nData = 0;
};

WORD Word(const BYTE* p) {
    return WORD((p[0] << 8) | p[1]);
}

template <typename... Args>
std::string Format(const char* pszFormat, Args... args) {
    char sz[160];
    std::snprintf(sz, sizeof sz, pszFormat, args...);
    return sz;
}

// "1 byte", "3 bytes", "3 PDU bytes".
std::string Bytes(size_t n, const char* pszKind = "") {
    return std::to_string(n) + " " + pszKind + (n == 1 ? "byte" : "bytes");
}

std::string Follow(size_t n) {
    return Bytes(n) + (n == 1 ? " follows" : " follow");
}

std::string Name(BYTE byFunction) {
    const char* psz = FunctionName(byFunction);
    return psz != nullptr ? psz : Format("function 0x%02X", unsigned(byFunction));
}

// Answered with a byte count and registers; read/write multiple registers
// too, whose read quantity stands where a read's does.
bool IsRegisterRead(BYTE byFunction) {
    return byFunction == READ_HOLDING_REGISTERS || byFunction == READ_INPUT_REGISTERS ||
           byFunction == READ_WRITE_MULTIPLE_REGISTERS;
}

bool IsBitRead(BYTE byFunction) {
    return byFunction == READ_COILS || byFunction == READ_DISCRETE_INPUTS;
}

// Drops the CRC from the end of an RTU frame once it proves right.
bool StripCrc(const BYTE* p, size_t& n, std::string& strWhy) {
    if (n < 2 + kCrc) {
        strWhy = "too short for a device address, function and CRC: " + Bytes(n);
        return false;
    }
    const WORD wWant = ModbusCrc16(p, n - kCrc);
    if (p[n - 2] != LOBYTE(wWant) || p[n - 1] != HIBYTE(wWant)) {
        strWhy = Format("CRC %02X %02X, expected %02X %02X", unsigned(p[n - 2]), unsigned(p[n - 1]),
                        unsigned(LOBYTE(wWant)), unsigned(HIBYTE(wWant)));
        return false;
    }
    n -= kCrc;
    return true;
}

bool Split(const BYTE* p, size_t n, EFraming framing, CPdu& pdu, std::string& strWhy) {
    if (framing == EFraming::TCP_HEADER) {
        if (n < kTcpHeader) {
            strWhy = "too short for a Modbus/TCP header: " + Bytes(n);
            return false;
        }
        if (Word(p + 2) != 0) {
            strWhy = Format("protocol id %u, not Modbus", unsigned(Word(p + 2)));
            return false;
        }
        if (Word(p + 4) != n - kTcpHeader) {
            strWhy = Format("length field %u but ", unsigned(Word(p + 4))) + Follow(n - kTcpHeader);
            return false;
        }
        p += kTcpHeader;
        n -= kTcpHeader;
    } else if (framing == EFraming::RTU && !StripCrc(p, n, strWhy)) {
        return false;
    }
    if (n < 2) {
        strWhy = "too short for a device address and function: " + Bytes(n);
        return false;
    }
    pdu.byUnit = p[0];
    pdu.byFunction = p[1];
    pdu.pData = p + 2;
    pdu.nData = n - 2;
    return true;
}

// The PDU must be exactly 1 + nData bytes.
bool CheckLength(const CPdu& pdu, size_t nData, const char* pszWhat, std::string& strWhy) {
    if (pdu.nData == nData) {
        return true;
    }
    strWhy = Format("too %s for %s %s: ", pdu.nData < nData ? "short" : "long",
                    Name(pdu.byFunction).c_str(), pszWhat) +
             Bytes(pdu.nData + 1, "PDU ") + (pdu.nData < nData ? ", needs " : ", expected ") +
             std::to_string(nData + 1);
    return false;
}

bool CheckAtLeast(const CPdu& pdu, size_t nData, const char* pszWhat, std::string& strWhy) {
    return pdu.nData >= nData || CheckLength(pdu, nData, pszWhat, strWhy);
}

std::string Registers(const BYTE* p, size_t nCount) {
    std::string s;
    for (size_t i = 0; i < nCount && i < MAX_REGISTERS; ++i) {
        s += (i > 0 ? " " : "") + std::to_string(Word(p + 2 * i));
    }
    if (nCount > MAX_REGISTERS) {
        s += Format(" ... (%zu more)", nCount - MAX_REGISTERS);
    }
    return s;
}

// Bits from the first of p[0], lowest bit first, as 0 and 1.
std::string Bits(const BYTE* p, size_t nCount) {
    std::string s;
    for (size_t i = 0; i < nCount && i < MAX_BITS; ++i) {
        if (i > 0) {
            s += ' ';
        }
        s += char('0' + ((p[i / 8] >> (i % 8)) & 1));
    }
    if (nCount > MAX_BITS) {
        s += Format(" ... (%zu more)", nCount - MAX_BITS);
    }
    return s;
}

std::string AddressQuantity(const BYTE* p) {
    return Format("address %u, quantity %u", unsigned(Word(p)), unsigned(Word(p + 2)));
}

// What a 5, 6 or 8 request carries, its answer echoing it.
std::string SingleWrite(const CPdu& pdu) {
    const WORD wAddress = Word(pdu.pData);
    const WORD wValue = Word(pdu.pData + 2);
    if (pdu.byFunction == WRITE_SINGLE_COIL) {
        return Format("address %u, %s", unsigned(wAddress),
                      wValue == 0xFF00 ? "on"
                      : wValue == 0x0000
                          ? "off"
                          : Format("value 0x%04X (neither on nor off)", unsigned(wValue)).c_str());
    }
    if (pdu.byFunction == WRITE_SINGLE_REGISTER) {
        return Format("address %u, value %u", unsigned(wAddress), unsigned(wValue));
    }
    // Diagnostics: the sub-function, then its data.
    return wAddress == 0
               ? Format("return query data 0x%04X", unsigned(wValue))
               : Format("sub-function %u, data 0x%04X", unsigned(wAddress), unsigned(wValue));
}

// A mask write: the register and both masks, request and echo alike.
std::string MaskWrite(const CPdu& pdu) {
    return Format("address %u, AND 0x%04X, OR 0x%04X", unsigned(Word(pdu.pData)),
                  unsigned(Word(pdu.pData + 2)), unsigned(Word(pdu.pData + 4)));
}

// Read/write multiple registers: the read, then the write and its values.
bool ReadWriteRequest(const CPdu& pdu, std::string& strText, std::string& strWhy) {
    if (!CheckAtLeast(pdu, 9, "request", strWhy)) {
        return false;
    }
    const size_t nQuantity = Word(pdu.pData + 6);
    const size_t nBytes = pdu.pData[8];
    if (nBytes != pdu.nData - 9) {
        strWhy = "byte count " + std::to_string(nBytes) + " but " + Follow(pdu.nData - 9);
        return false;
    }
    if (nBytes != 2 * nQuantity) {
        strWhy = Format("byte count %zu for %zu registers", nBytes, nQuantity);
        return false;
    }
    strText = "read " + AddressQuantity(pdu.pData) + ", write " + AddressQuantity(pdu.pData + 4) +
              ": " + Registers(pdu.pData + 9, nQuantity);
    return true;
}

// A request's fields after its function; false with the reason.
bool RequestFields(const CPdu& pdu, std::string& strText, std::string& strWhy) {
    const BYTE f = pdu.byFunction;
    if (f == MASK_WRITE_REGISTER) {
        if (!CheckLength(pdu, 6, "request", strWhy)) {
            return false;
        }
        strText = MaskWrite(pdu);
        return true;
    }
    if (f == READ_WRITE_MULTIPLE_REGISTERS) {
        return ReadWriteRequest(pdu, strText, strWhy);
    }
    if (IsBitRead(f) || IsRegisterRead(f)) {
        if (!CheckLength(pdu, 4, "request", strWhy)) {
            return false;
        }
        strText = AddressQuantity(pdu.pData);
        return true;
    }
    if (f == WRITE_SINGLE_COIL || f == WRITE_SINGLE_REGISTER || f == DIAGNOSTICS) {
        if (!CheckLength(pdu, 4, "request", strWhy)) {
            return false;
        }
        strText = SingleWrite(pdu);
        return true;
    }
    if (f == WRITE_MULTIPLE_COILS || f == WRITE_MULTIPLE_REGISTERS) {
        if (!CheckAtLeast(pdu, 5, "request", strWhy)) {
            return false;
        }
        const size_t nQuantity = Word(pdu.pData + 2);
        const size_t nBytes = pdu.pData[4];
        const bool bCoils = f == WRITE_MULTIPLE_COILS;
        if (nBytes != pdu.nData - 5) {
            strWhy = "byte count " + std::to_string(nBytes) + " but " + Follow(pdu.nData - 5);
            return false;
        }
        if (nBytes != (bCoils ? (nQuantity + 7) / 8 : 2 * nQuantity)) {
            strWhy = Format("byte count %zu for %zu %s", nBytes, nQuantity,
                            bCoils ? "coils" : "registers");
            return false;
        }
        strText = AddressQuantity(pdu.pData) + ": " +
                  (bCoils ? Bits(pdu.pData + 5, nQuantity) : Registers(pdu.pData + 5, nQuantity));
        return true;
    }
    if (pdu.nData > 0) {
        strText = Bytes(pdu.nData, "data ");
    }
    return true;
}

std::string Decoded(const CPdu& pdu, const std::string& strFields, char chSeparator) {
    std::string s = Format("unit %u: ", unsigned(pdu.byUnit)) + Name(pdu.byFunction);
    if (!strFields.empty()) {
        s += chSeparator;
        s += ' ';
        s += strFields;
    }
    return s;
}

std::string NotDecoded(const std::string& strWhy) {
    return "not decoded: " + strWhy;
}

// A read's answer: byte count, then registers or bits. pRequest is null
// when the request is not known.
bool ReadAnswer(const CPdu& pdu, const CPdu* pRequest, std::string& strText, std::string& strWhy) {
    if (!CheckAtLeast(pdu, 1, "answer", strWhy)) {
        return false;
    }
    const size_t nBytes = pdu.pData[0];
    if (nBytes != pdu.nData - 1) {
        strWhy = "byte count " + std::to_string(nBytes) + " but " + Follow(pdu.nData - 1);
        return false;
    }
    const bool bRegisters = IsRegisterRead(pdu.byFunction);
    size_t nCount = bRegisters ? nBytes / 2 : 8 * nBytes;
    if (pRequest != nullptr) {
        nCount = Word(pRequest->pData + 2);
        if (nBytes != (bRegisters ? 2 * nCount : (nCount + 7) / 8)) {
            strWhy = Format("byte count %zu for %zu %s", nBytes, nCount,
                            bRegisters                     ? "registers"
                            : pdu.byFunction == READ_COILS ? "coils"
                                                           : "inputs");
            return false;
        }
    } else if (bRegisters && nBytes % 2 != 0) {
        strWhy = Format("odd byte count %zu for registers", nBytes);
        return false;
    }
    strText = bRegisters ? Registers(pdu.pData + 1, nCount) : Bits(pdu.pData + 1, nCount);
    return true;
}

// An answer's fields after its function; false with the reason.
bool AnswerFields(const CPdu& pdu, const CPdu* pRequest, std::string& strText,
                  std::string& strWhy) {
    const BYTE f = pdu.byFunction;
    if (f == MASK_WRITE_REGISTER) {
        if (!CheckLength(pdu, 6, "answer", strWhy)) {
            return false;
        }
        strText = MaskWrite(pdu);
        if (pRequest != nullptr &&
            (pRequest->nData != 6 || std::memcmp(pRequest->pData, pdu.pData, 6) != 0)) {
            strWhy = "not an echo of the request: " + strText;
            return false;
        }
        return true;
    }
    if (IsBitRead(f) || IsRegisterRead(f)) {
        return ReadAnswer(pdu, pRequest, strText, strWhy);
    }
    if (f == WRITE_SINGLE_COIL || f == WRITE_SINGLE_REGISTER || f == DIAGNOSTICS) {
        if (!CheckLength(pdu, 4, "answer", strWhy)) {
            return false;
        }
        if (pRequest != nullptr &&
            (pRequest->nData != 4 || std::memcmp(pRequest->pData, pdu.pData, 4) != 0)) {
            strWhy = "not an echo of the request: " + SingleWrite(pdu);
            return false;
        }
        strText = SingleWrite(pdu);
        return true;
    }
    if (f == WRITE_MULTIPLE_COILS || f == WRITE_MULTIPLE_REGISTERS) {
        if (!CheckLength(pdu, 4, "answer", strWhy)) {
            return false;
        }
        strText = AddressQuantity(pdu.pData);
        if (pRequest != nullptr && std::memcmp(pRequest->pData, pdu.pData, 4) != 0) {
            strWhy = strText + " answers " + AddressQuantity(pRequest->pData);
            return false;
        }
        return true;
    }
    if (pdu.nData > 0) {
        strText = Bytes(pdu.nData, "data ");
    }
    return true;
}
}  // namespace

const char* FunctionName(BYTE byFunction) {
    switch (byFunction) {
        case READ_COILS:
            return "read coils";
        case READ_DISCRETE_INPUTS:
            return "read discrete inputs";
        case READ_HOLDING_REGISTERS:
            return "read holding registers";
        case READ_INPUT_REGISTERS:
            return "read input registers";
        case WRITE_SINGLE_COIL:
            return "write single coil";
        case WRITE_SINGLE_REGISTER:
            return "write single register";
        case READ_EXCEPTION_STATUS:
            return "read exception status";
        case DIAGNOSTICS:
            return "diagnostics";
        case GET_COMM_EVENT_COUNTER:
            return "get comm event counter";
        case GET_COMM_EVENT_LOG:
            return "get comm event log";
        case WRITE_MULTIPLE_COILS:
            return "write multiple coils";
        case WRITE_MULTIPLE_REGISTERS:
            return "write multiple registers";
        case REPORT_SERVER_ID:
            return "report server id";
        case READ_FILE_RECORD:
            return "read file record";
        case WRITE_FILE_RECORD:
            return "write file record";
        case MASK_WRITE_REGISTER:
            return "mask write register";
        case READ_WRITE_MULTIPLE_REGISTERS:
            return "read/write multiple registers";
        default:
            return nullptr;
    }
}

const char* ExceptionName(BYTE byCode) {
    using namespace ModbusExceptionCode;
    switch (byCode) {
        case ILLEGAL_FUNCTION:
            return "illegal function";
        case ILLEGAL_DATA_ADDRESS:
            return "illegal data address";
        case ILLEGAL_DATA_VALUE:
            return "illegal data value";
        case SERVER_DEVICE_FAILURE:
            return "server device failure";
        case ACKNOWLEDGE:
            return "acknowledge";
        case SERVER_DEVICE_BUSY:
            return "server device busy";
        case MEMORY_PARITY_ERROR:
            return "memory parity error";
        case GATEWAY_PATH_UNAVAILABLE:
            return "gateway path unavailable";
        case GATEWAY_TARGET_FAILED:
            return "gateway target device failed to respond";
        default:
            return nullptr;
    }
}

std::string ExceptionText(BYTE byCode) {
    const char* pszName = ExceptionName(byCode);
    return "exception " + std::to_string(byCode) +
           (pszName != nullptr ? std::string(" (") + pszName + ")" : std::string());
}

std::string NameExceptionStatus(const std::string& strStatus, WORD wStatus) {
    if (!IsExceptionStatus(wStatus)) {
        return strStatus;
    }
    const BYTE byCode = BYTE(wStatus - MODBUS_EXCEPTION_BASE);
    const char* pszName = ExceptionName(byCode);
    if (pszName == nullptr) {
        return strStatus;
    }
    const std::string strName = std::string(" (") + pszName + ")";
    // Right after the number, where the text has it; at the end otherwise.
    const std::string strNumber = "exception code " + std::to_string(byCode);
    for (size_t nAt = strStatus.find(strNumber); nAt != std::string::npos;
         nAt = strStatus.find(strNumber, nAt + 1)) {
        const size_t nEnd = nAt + strNumber.size();
        if (nEnd == strStatus.size() || strStatus[nEnd] < '0' || strStatus[nEnd] > '9') {
            return strStatus.substr(0, nEnd) + strName + strStatus.substr(nEnd);
        }
    }
    return strStatus + strName;
}

bool HasTcpHeader(const BYTE* p, size_t n) {
    // A device address and PDU never pass for a header: the length field
    // would have to count the bytes after a request's quantity.
    return n >= kTcpHeader + 2 && Word(p + 2) == 0 && Word(p + 4) == n - kTcpHeader;
}

bool HasRtuCrc(const BYTE* p, size_t n) {
    return n >= 2 + kCrc && ModbusCrc16(p, n) == 0;
}

std::string DecodeRequest(const BYTE* p, size_t n, EFraming framing) {
    CPdu pdu;
    std::string strWhy;
    std::string strFields;
    if (!Split(p, n, framing, pdu, strWhy)) {
        return NotDecoded(strWhy);
    }
    if ((pdu.byFunction & EXCEPTION_FLAG) != 0) {
        return NotDecoded(Format("function 0x%02X in a request", unsigned(pdu.byFunction)));
    }
    if (!RequestFields(pdu, strFields, strWhy)) {
        return NotDecoded(strWhy);
    }
    return Decoded(pdu, strFields, ',');
}

std::string DecodeAnswer(const BYTE* pRequest, size_t nRequest, EFraming requestFraming,
                         const BYTE* pAnswer, size_t nAnswer, EFraming answerFraming) {
    CPdu pdu;
    std::string strWhy;
    if (!Split(pAnswer, nAnswer, answerFraming, pdu, strWhy)) {
        return NotDecoded(strWhy);
    }
    // The request is used only when it decodes itself.
    CPdu request;
    std::string strIgnored;
    const bool bRequest = pRequest != nullptr &&
                          Split(pRequest, nRequest, requestFraming, request, strIgnored) &&
                          (request.byFunction & EXCEPTION_FLAG) == 0 &&
                          RequestFields(request, strIgnored, strIgnored);
    const BYTE byFunction = BYTE(pdu.byFunction & ~EXCEPTION_FLAG);
    if (bRequest && pdu.byUnit != request.byUnit) {
        return NotDecoded(
            Format("unit %u answered for unit %u", unsigned(pdu.byUnit), unsigned(request.byUnit)));
    }
    if (bRequest && byFunction != request.byFunction) {
        return NotDecoded(Format("function 0x%02X answered 0x%02X", unsigned(request.byFunction),
                                 unsigned(pdu.byFunction)));
    }
    if ((pdu.byFunction & EXCEPTION_FLAG) != 0) {
        CPdu named = pdu;
        named.byFunction = byFunction;
        if (pdu.nData != 1) {
            return NotDecoded("an exception answer of " + Bytes(pdu.nData + 1, "PDU ") + ", not 2");
        }
        return Decoded(named, ExceptionText(pdu.pData[0]), ',');
    }
    std::string strFields;
    if (!AnswerFields(pdu, bRequest ? &request : nullptr, strFields, strWhy)) {
        return NotDecoded(strWhy);
    }
    return Decoded(pdu, strFields, IsBitRead(byFunction) || IsRegisterRead(byFunction) ? ':' : ',');
}

}  // namespace FrameDecode
