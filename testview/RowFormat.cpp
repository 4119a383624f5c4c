#include "RowFormat.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

const char* const g_szReadFunctions[READ_FUNCTION_COUNT] = {
    "LoopbackTest", "Read Output Registers", "Read Input Registers", "Read Ouput Status",
    "Read Input Status"};

const char* const g_szDataTypes[DATA_TYPE_COUNT] = {"char",
                                                    "signed - 16",
                                                    "unsigned - 16",
                                                    "float - 32",
                                                    "float - 32 reverse",
                                                    "double - 64",
                                                    "double - 64 reverse",
                                                    "signed - 32 ABCD",
                                                    "signed - 32 CDAB",
                                                    "signed - 32 BADC",
                                                    "signed - 32 DCBA",
                                                    "unsigned - 32 ABCD",
                                                    "unsigned - 32 CDAB",
                                                    "unsigned - 32 BADC",
                                                    "unsigned - 32 DCBA",
                                                    "float - 32 ABCD",
                                                    "float - 32 CDAB",
                                                    "float - 32 BADC",
                                                    "float - 32 DCBA",
                                                    "hex - 16",
                                                    "binary - 16",
                                                    "signed - 64 ABCD",
                                                    "signed - 64 CDAB",
                                                    "signed - 64 BADC",
                                                    "signed - 64 DCBA",
                                                    "unsigned - 64 ABCD",
                                                    "unsigned - 64 CDAB",
                                                    "unsigned - 64 BADC",
                                                    "unsigned - 64 DCBA",
                                                    "float - 64 ABCD",
                                                    "float - 64 CDAB",
                                                    "float - 64 BADC",
                                                    "float - 64 DCBA"};

const char* const g_szWriteFunctions[WRITE_FUNCTION_COUNT] = {"Preset Single Register",
                                                              "Force Single Coil"};

namespace {
// The kind and order of a type among the twelve that start at nFirst.
bool KindAndOrder(int nDataType, int nFirst, Kind32& kind, WordOrder& order) {
    const int nOffset = nDataType - nFirst;
    if (nOffset < 0 || nOffset >= 3 * WORD_ORDER_COUNT) {
        return false;
    }
    kind = static_cast<Kind32>(nOffset / WORD_ORDER_COUNT);
    order = static_cast<WordOrder>(nOffset % WORD_ORDER_COUNT);
    return true;
}
}  // namespace

bool Is32BitType(int nDataType, Kind32& kind, WordOrder& order) {
    return KindAndOrder(nDataType, TYPE_SIGNED_32_FIRST, kind, order);
}

bool Is64BitType(int nDataType, Kind32& kind, WordOrder& order) {
    return KindAndOrder(nDataType, TYPE_SIGNED_64_FIRST, kind, order);
}

bool IsWordType(int nDataType) {
    return (nDataType >= TYPE_CHAR && nDataType <= TYPE_UNSIGNED_16) || nDataType == TYPE_HEX_16 ||
           nDataType == TYPE_BINARY_16;
}

namespace {
template <typename... Args>
CString Format(const char* pszFormat, Args... args) {
    char sz[128];
    std::snprintf(sz, sizeof sz, pszFormat, args...);
    return CString(sz);  // up to the first 0, as the list box takes it
}

// How a data type lays its values over registers.
struct CLayout {
    ValueKind kind = ValueKind::Uint16;
    unsigned nRegisters = 1;
    WordOrder order = WordOrder::ABCD;  // of two or four registers
};

CLayout Layout(int nDataType) {
    switch (nDataType) {
        case TYPE_CHAR:
            return {ValueKind::Char};
        case TYPE_SIGNED_16:
            return {ValueKind::Int16};
        case TYPE_HEX_16:
            return {ValueKind::Hex16};
        case TYPE_BINARY_16:
            return {ValueKind::Binary16};
        // The first float and double types: least significant register
        // first, or the reverse.
        case TYPE_FLOAT:
            return {ValueKind::Float, 2, WordOrder::CDAB};
        case TYPE_FLOAT_REVERSE:
            return {ValueKind::Float, 2, WordOrder::ABCD};
        case TYPE_DOUBLE:
            return {ValueKind::Double, 4, WordOrder::CDAB};
        case TYPE_DOUBLE_REVERSE:
            return {ValueKind::Double, 4, WordOrder::ABCD};
        default:
            break;
    }
    Kind32 kind;
    WordOrder order;
    if (Is32BitType(nDataType, kind, order)) {
        const ValueKind kinds[] = {ValueKind::Int32, ValueKind::Uint32, ValueKind::Float};
        return {kinds[int(kind)], 2, order};
    }
    if (Is64BitType(nDataType, kind, order)) {
        const ValueKind kinds[] = {ValueKind::Int64, ValueKind::Uint64, ValueKind::Double};
        return {kinds[int(kind)], 4, order};
    }
    return {};  // unsigned 16-bit, and what is not a data type
}

CString BinaryDigits(std::uint64_t w) {
    CString strBits;
    for (int b = 15; b >= 0; --b) {
        strBits += (w >> b) & 1 ? '1' : '0';
    }
    return strBits;
}

CString RealText(double d, int nDigits) {
    if (!std::isfinite(d)) {
        return std::isnan(d) ? "nan" : d > 0 ? "inf" : "-inf";
    }
    return Format("%.*g", nDigits, d);
}
}  // namespace

unsigned RegistersPerValue(int nDataType) {
    return Layout(nDataType).nRegisters;
}

CDecodedValues DecodeValues(int nDataType, WORD wStart, const CWordArray& registers) {
    const CLayout layout = Layout(nDataType);
    const size_t n = layout.nRegisters;
    CDecodedValues values;
    values.reserve(registers.size() / n);
    for (size_t r = 0; r + n <= registers.size(); r += n) {
        const std::uint64_t nBits = n == 4 ? JoinQword(&registers[r], layout.order)
                                    : n == 2
                                        ? JoinDword(registers[r], registers[r + 1], layout.order)
                                        : registers[r];
        values.push_back({unsigned(wStart) + unsigned(r), layout.kind, nBits});
    }
    return values;
}

CWordArray ValueRegisters(int nDataType, std::uint64_t nBits) {
    const CLayout layout = Layout(nDataType);
    CWordArray registers(layout.nRegisters, WORD(nBits));
    if (layout.nRegisters == 4) {
        SplitQword(nBits, layout.order, registers.data());
    } else if (layout.nRegisters == 2) {
        SplitDword(std::uint32_t(nBits), layout.order, registers.data());
    }
    return registers;
}

CDecodedValues DecodeValues(WORD wStart, const CByteArray& bits) {
    CDecodedValues values;
    values.reserve(bits.size());
    for (size_t i = 0; i < bits.size(); ++i) {
        values.push_back({unsigned(wStart) + unsigned(i), ValueKind::Bit, bits[i]});
    }
    return values;
}

CString RowText(const CTypedValue& v) {
    const unsigned a = v.nAddress;
    const unsigned w = unsigned(v.nBits);  // all that the 16- and 32-bit kinds have
    switch (v.kind) {
        case ValueKind::Char:
            return Format("[%u]=%c 0x%x", a, int(static_cast<signed char>(w & 0xFF)), w);
        case ValueKind::Int16:
            return Format("[%u]=%d 0x%x", a, int(static_cast<std::int16_t>(w)), w);
        case ValueKind::Uint16:
            return Format("[%u]=%d 0x%x", a, int(w), w);
        case ValueKind::Hex16:
            return Format("[%u]=0x%04X ", a, w);
        case ValueKind::Binary16:
            return Format("[%u]=%s ", a, BinaryDigits(w).c_str());
        case ValueKind::Int32:
            return Format("[%u]=%d ", a, int(static_cast<std::int32_t>(w)));
        case ValueKind::Uint32:
            return Format("[%u]=%u ", a, w);
        case ValueKind::Float:
            return Format("[%u]=%g ", a, double(BitsFloat(w)));
        case ValueKind::Double:
            return Format("[%u]=%g ", a, BitsDouble(v.nBits));
        case ValueKind::Int64:
            return Format("[%u]=%lld ", a, static_cast<long long>(v.nBits));
        case ValueKind::Uint64:
            return Format("[%u]=%llu ", a, static_cast<unsigned long long>(v.nBits));
        case ValueKind::Bit:
            return Format("[%u]=%d ", a, int(w));
    }
    return CString();
}

std::vector<CString> RowTexts(const CDecodedValues& values) {
    std::vector<CString> rows;
    rows.reserve(values.size());
    for (const CTypedValue& v : values) {
        rows.push_back(RowText(v));
    }
    return rows;
}

CString ExactText(const CTypedValue& v) {
    const unsigned w = unsigned(v.nBits);
    switch (v.kind) {
        case ValueKind::Char:
            // The low byte as the window shows it: one Latin-1 character.
            return CString(1, char(w & 0xFF));
        case ValueKind::Int16:
            return Format("%d", int(static_cast<std::int16_t>(w)));
        case ValueKind::Uint16:
        case ValueKind::Uint32:
            return Format("%u", w);
        case ValueKind::Hex16:
            return Format("0x%04X", w);
        case ValueKind::Binary16:
            return BinaryDigits(w);
        case ValueKind::Int32:
            return Format("%d", int(static_cast<std::int32_t>(w)));
        case ValueKind::Float:
            return RealText(double(BitsFloat(w)), 9);
        case ValueKind::Double:
            return RealText(BitsDouble(v.nBits), 17);
        case ValueKind::Int64:
            return Format("%lld", static_cast<long long>(v.nBits));
        case ValueKind::Uint64:
            return Format("%llu", static_cast<unsigned long long>(v.nBits));
        case ValueKind::Bit:
            return w ? "1" : "0";
    }
    return CString();
}

bool IsTextValue(const CTypedValue& v) {
    switch (v.kind) {
        case ValueKind::Char:
        case ValueKind::Hex16:
        case ValueKind::Binary16:
            return true;
        case ValueKind::Float:
            return !std::isfinite(BitsFloat(std::uint32_t(v.nBits)));
        case ValueKind::Double:
            return !std::isfinite(BitsDouble(v.nBits));
        default:
            return false;
    }
}
