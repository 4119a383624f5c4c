#include "ReadWrite.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "RowFormat.h"
#include "core/Modbus.h"
#include "core/ModbusException.h"
#include "platform/PerfCounter.h"

long ParseNumber(const CString& str) {
    return std::atol(str.c_str());
}

namespace {
// After a number only white space may follow, and there must be a number.
bool WholeText(const char* pszStart, const char* pszEnd) {
    if (pszEnd == pszStart) {
        return false;
    }
    while (std::isspace(static_cast<unsigned char>(*pszEnd))) {
        ++pszEnd;
    }
    return *pszEnd == 0;
}

bool ParseUnsigned(const CString& str, int nBase, std::uint64_t nMax, std::uint64_t& nValue) {
    const char* psz = str.c_str();
    while (std::isspace(static_cast<unsigned char>(*psz))) {
        ++psz;
    }
    if (*psz == '-') {
        return false;  // strtoull would wrap it round
    }
    char* pszEnd = nullptr;
    errno = 0;
    nValue = std::strtoull(psz, &pszEnd, nBase);
    return errno == 0 && WholeText(psz, pszEnd) && nValue <= nMax;
}
}  // namespace

bool ParseWideValue(Kind32 kind, unsigned nWidth, const CString& str, std::uint64_t& bits) {
    const bool b64 = nWidth == 64;
    const char* psz = str.c_str();
    char* pszEnd = nullptr;
    errno = 0;
    switch (kind) {
        case Kind32::Signed: {
            const long long n = std::strtoll(psz, &pszEnd, 10);
            const long long nMin = b64 ? INT64_MIN : INT32_MIN;
            const long long nMax = b64 ? INT64_MAX : INT32_MAX;
            if (errno != 0 || !WholeText(psz, pszEnd) || n < nMin || n > nMax) {
                return false;
            }
            bits = b64 ? std::uint64_t(n) : std::uint32_t(std::int32_t(n));
            return true;
        }
        case Kind32::Unsigned:
            return ParseUnsigned(str, 10, b64 ? UINT64_MAX : UINT32_MAX, bits);
        case Kind32::Float: {
            const double d = b64 ? std::strtod(psz, &pszEnd) : std::strtof(psz, &pszEnd);
            if (errno == ERANGE && std::isinf(d)) {
                return false;  // too large for the type: not silently infinity
            }
            if (!WholeText(psz, pszEnd)) {
                return false;
            }
            bits = b64 ? DoubleBits(d) : FloatBits(float(d));
            return true;
        }
    }
    return false;
}

bool ParseRegisterText(int nDataType, const CString& str, WORD& wValue) {
    std::uint64_t n = 0;
    if (!ParseUnsigned(str, nDataType == TYPE_BINARY_16 ? 2 : 16, 0xFFFF, n)) {
        return false;
    }
    wValue = WORD(n);
    return true;
}

namespace {
using Clock = std::chrono::steady_clock;

CString ExceptionText(CException* e) {
    char sz[512] = "";
    e->GetErrorMessage(sz, sizeof sz);
    e->Delete();
    return sz;
}

// Times the array sizing and the master call, nothing else: on both clocks.
class CReadClock {
public:
    explicit CReadClock(CReadResult& result) : m_result(result) {}
    void Start() {
        m_t0 = timeGetTime();
        m_start = Clock::now();
        m_bRunning = true;
    }
    void Stop() {
        if (!m_bRunning) {
            return;
        }
        m_bRunning = false;
        m_result.qwMicros = ULONGLONG(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_start).count());
        m_result.dwElapsed = timeGetTime() - m_t0;
    }

private:
    CReadResult& m_result;
    DWORD m_t0 = 0;
    Clock::time_point m_start;
    bool m_bRunning = false;
};

// Registers read as the data type says: one, two or four per value.
WORD ReadRegisters(CModbus* pModbus, const CReadSettings& s, WORD nDevice, WORD wAddress,
                   WORD wQuantity, CReadClock& clock, CWordArray& registers) {
    // The quantity counts values, the request registers.
    const WORD wRegisters = WORD(RegistersPerValue(s.nDataType) * wQuantity);
    clock.Start();
    registers.assign(wRegisters, 0);
    const WORD wStatus =
        s.nReadFunction == READ_INPUT_REGISTERS
            ? pModbus->ReadInputRegisters(nDevice, wAddress, wRegisters, registers)
            : pModbus->ReadOutputRegisters(nDevice, wAddress, wRegisters, registers);
    clock.Stop();
    return wStatus;
}

// The read the function asks for, its values decoded (none for the
// loop-back test).
WORD Read(CModbus* pModbus, const CReadSettings& s, WORD nDevice, WORD wAddress, WORD wQuantity,
          CReadClock& clock, CListUpdate& list, CDecodedValues& values) {
    WORD wStatus = 0;
    switch (s.nReadFunction) {
        case READ_LOOPBACK:
            clock.Start();
            wStatus = pModbus->LoopbackTest(nDevice);
            clock.Stop();
            list = MakeListUpdate({}, false, wQuantity);
            return wStatus;
        case READ_OUTPUT_REGISTERS:
        case READ_INPUT_REGISTERS: {
            CWordArray registers;
            wStatus = ReadRegisters(pModbus, s, nDevice, wAddress, wQuantity, clock, registers);
            values = DecodeValues(s.nDataType, wAddress, registers);
            break;
        }
        default: {
            CByteArray bits;
            clock.Start();
            bits.assign(wQuantity, 0);
            wStatus = s.nReadFunction == READ_OUTPUT_STATUS
                          ? pModbus->ReadOutputStatus(nDevice, wAddress, wQuantity, bits)
                          : pModbus->ReadInputStatus(nDevice, wAddress, wQuantity, bits);
            clock.Stop();
            values = DecodeValues(wAddress, bits);
            break;
        }
    }
    list = MakeListUpdate(RowTexts(values), true, wQuantity);
    return wStatus;
}
}  // namespace

WORD FormDevice(const CString& str) {
    return WORD(ParseNumber(str) & 0xFF);
}

WORD FormAddress(const CString& str) {
    return WORD(ParseNumber(str));
}

WORD FormQuantity(const CString& str) {
    return WORD(ParseNumber(str) & 0xFF);
}

DWORD FormInterval(const CString& str) {
    const long nInterval = ParseNumber(str);
    return DWORD(nInterval >= 0 && nInterval <= MAX_POLL_INTERVAL ? nInterval : MAX_POLL_INTERVAL);
}

CReadResult ReadOnce(const CReadSettings& s) {
    CReadResult result;
    if (s.pModbus == nullptr || s.nReadFunction < 0 || s.nReadFunction >= READ_FUNCTION_COUNT) {
        return result;
    }
    const WORD nDevice = FormDevice(s.strDevice);
    const WORD wAddress = FormAddress(s.strAddress);
    const WORD wQuantity = FormQuantity(s.strQuantity);
    result.bRead = TRUE;
    CReadClock clock(result);
    try {
        result.wStatus =
            Read(s.pModbus, s, nDevice, wAddress, wQuantity, clock, result.list, result.values);
    } catch (CException* e) {
        clock.Stop();
        result.bException = TRUE;
        result.wStatus = e->IsKindOf(RUNTIME_CLASS(CModbusException))
                             ? WORD(static_cast<CModbusException*>(e)->m_wStatus)
                             : 0;
        result.strStatus = ExceptionText(e);
    }
    if (!result.bException) {
        result.strStatus = s.pModbus->GetErrorText(result.wStatus);
    }
    result.bTimedOut = result.wStatus == MODBUS_TIMEOUT || s.pModbus->LastExchangeTimedOut();
    if (result.Failed()) {
        result.values.clear();  // zeros that did not come from the device
    }
    return result;
}

namespace {
// A written value as the list's rows show it.
CString FormatReal(double d) {
    char sz[64];
    std::snprintf(sz, sizeof sz, "%g", d);
    return sz;
}

CString RegisterText(int nDataType, WORD wValue) {
    char sz[24];
    if (nDataType == TYPE_BINARY_16) {
        for (int b = 0; b < 16; ++b) {
            sz[b] = (wValue >> (15 - b)) & 1 ? '1' : '0';
        }
        sz[16] = 0;
    } else {
        std::snprintf(sz, sizeof sz, "0x%04X", unsigned(wValue));
    }
    return sz;
}

CString DwordText(Kind32 kind, std::uint32_t bits) {
    switch (kind) {
        case Kind32::Signed:
            return std::to_string(static_cast<std::int32_t>(bits));
        case Kind32::Unsigned:
            return std::to_string(bits);
        case Kind32::Float:
            break;
    }
    return FormatReal(double(BitsFloat(bits)));
}

// The value a write sent, as the list's rows show it.
CString WrittenText(const CTypedValue& value) {
    const WORD wValue = WORD(value.nBits);
    const auto dwBits = static_cast<std::uint32_t>(value.nBits);
    switch (value.kind) {
        case ValueKind::Char:
            return CString(1, char(wValue & 0xFF));
        case ValueKind::Int16:
            return std::to_string(static_cast<std::int16_t>(wValue));
        case ValueKind::Uint16:
            return std::to_string(wValue);
        case ValueKind::Hex16:
            return RegisterText(TYPE_HEX_16, wValue);
        case ValueKind::Binary16:
            return RegisterText(TYPE_BINARY_16, wValue);
        case ValueKind::Int32:
            return DwordText(Kind32::Signed, dwBits);
        case ValueKind::Uint32:
            return DwordText(Kind32::Unsigned, dwBits);
        case ValueKind::Float:
            return DwordText(Kind32::Float, dwBits);
        case ValueKind::Double:
            return FormatReal(BitsDouble(value.nBits));
        case ValueKind::Int64:
            return std::to_string(static_cast<std::int64_t>(value.nBits));
        case ValueKind::Uint64:
            return std::to_string(value.nBits);
        case ValueKind::Bit:
            break;
    }
    return value.nBits != 0 ? "1" : "0";
}
}  // namespace

bool ParseWriteRegisters(int nDataType, const CString& str, CWordArray& registers,
                         CString& strReason) {
    strReason.clear();
    const auto itFirst = std::find_if(str.begin(), str.end(), [](char ch) {
        return std::isspace(static_cast<unsigned char>(ch)) == 0;
    });
    const bool bBlank = itFirst == str.end();
    std::uint64_t nBits = 0;
    switch (nDataType) {
        case TYPE_CHAR:
            if (bBlank) {
                return false;
            }
            nBits = WORD(static_cast<signed char>(*itFirst));
            break;
        case TYPE_SIGNED_16:
        case TYPE_UNSIGNED_16:
            if (str.empty()) {
                return false;
            }
            nBits = WORD(ParseNumber(str));
            break;
        // The form's first floats and doubles: whatever does not read as a
        // number is 0.
        case TYPE_FLOAT:
        case TYPE_FLOAT_REVERSE:
            nBits = FloatBits(float(std::atof(str.c_str())));
            break;
        case TYPE_DOUBLE:
        case TYPE_DOUBLE_REVERSE:
            nBits = DoubleBits(std::atof(str.c_str()));
            break;
        case TYPE_HEX_16:
        case TYPE_BINARY_16: {
            WORD wValue = 0;
            if (bBlank) {
                return false;
            }
            if (!ParseRegisterText(nDataType, str, wValue)) {
                strReason = "The value is not a 16-bit register in this notation";
                return false;
            }
            nBits = wValue;
            break;
        }
        default: {
            Kind32 kind;
            WordOrder order;
            if (!(Is32BitType(nDataType, kind, order) || Is64BitType(nDataType, kind, order)) ||
                bBlank) {
                return false;
            }
            if (!ParseWideValue(kind, 16 * RegistersPerValue(nDataType), str, nBits)) {
                strReason = "The value does not fit the data type";
                return false;
            }
            break;
        }
    }
    registers = ValueRegisters(nDataType, nBits);
    return true;
}

CWriteResult WriteOnce(const CWriteSettings& s) {
    CWriteResult result;
    if (s.pModbus == nullptr) {
        return result;
    }
    CWordArray registers;
    if (s.nWriteFunction == WRITE_PRESET_SINGLE_REGISTER) {
        if (!ParseWriteRegisters(s.nDataType, s.strValue, registers, result.strError)) {
            return result;
        }
    } else if (s.nWriteFunction == WRITE_FORCE_SINGLE_COIL) {
        registers = {WORD(ParseNumber(s.strValue))};  // 1 sets the coil, all else clears it
    } else {
        return result;
    }
    const WORD nDevice = FormDevice(s.strDevice);
    const WORD wAddress = FormAddress(s.strAddress);
    result.strValue = s.nWriteFunction == WRITE_FORCE_SINGLE_COIL
                          ? CString(registers[0] == 1 ? "1" : "0")
                          : WrittenText(DecodeValues(s.nDataType, wAddress, registers).front());
    result.bWritten = TRUE;
    try {
        CModbus& m = *s.pModbus;
        // The round trip: the master's call and nothing around it worth a
        // microsecond.
        const Clock::time_point start = Clock::now();
        result.wStatus =
            s.nWriteFunction == WRITE_FORCE_SINGLE_COIL
                ? m.ForceSingleCoil(nDevice, wAddress, registers[0])
            : registers.size() == 1
                ? m.PresetSingleRegister(nDevice, wAddress, registers[0])
                : m.PresetMultipleRegisters(nDevice, wAddress, WORD(registers.size()), registers);
        result.qwMicros = ULONGLONG(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    } catch (CException* e) {
        result.wStatus = e->IsKindOf(RUNTIME_CLASS(CModbusException))
                             ? WORD(static_cast<CModbusException*>(e)->m_wStatus)
                             : WORD(0xFFFF);
        result.strError = ExceptionText(e);
        return result;
    }
    if (result.wStatus != 0) {
        result.strError = s.pModbus->GetErrorText(result.wStatus);
    }
    return result;
}

CString WriteDoneText(const CWriteSettings& s, const CWriteResult& result) {
    const unsigned nDevice = unsigned(ParseNumber(s.strDevice) & 0xFF);
    const unsigned nAddress = WORD(ParseNumber(s.strAddress));
    const char* pszWhat = s.nWriteFunction == WRITE_FORCE_SINGLE_COIL ? "coil" : "holding register";
    char sz[256];
    std::snprintf(sz, sizeof sz, "Wrote %s to %s %u of device %u (%.2f ms)",
                  result.strValue.c_str(), pszWhat, nAddress, nDevice,
                  double(result.qwMicros) / 1000.0);
    return sz;
}
