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
                                                    "binary - 16"};

const char* const g_szWriteFunctions[WRITE_FUNCTION_COUNT] = {"Preset Single Register",
                                                              "Force Single Coil"};

bool Is32BitType(int nDataType, Kind32& kind, WordOrder& order) {
    if (nDataType < TYPE_SIGNED_32_FIRST || nDataType >= TYPE_HEX_16) {
        return false;
    }
    const int nOffset = nDataType - TYPE_SIGNED_32_FIRST;
    kind = static_cast<Kind32>(nOffset / WORD_ORDER_COUNT);
    order = static_cast<WordOrder>(nOffset % WORD_ORDER_COUNT);
    return true;
}

bool IsWordType(int nDataType) {
    return (nDataType >= TYPE_CHAR && nDataType <= TYPE_UNSIGNED_16) || nDataType == TYPE_HEX_16 ||
           nDataType == TYPE_BINARY_16;
}

namespace {
// Row addresses are counted in 32 bits: start 65535, second value 65536.
unsigned RowAddress(WORD wStart, size_t i, unsigned nStep) {
    return unsigned(wStart) + unsigned(i) * nStep;
}

template <typename... Args>
CString Format(const char* pszFormat, Args... args) {
    char sz[128];
    std::snprintf(sz, sizeof sz, pszFormat, args...);
    return CString(sz);  // up to the first 0, as the list box takes it
}
}  // namespace

std::vector<CString> FormatWordRows(int nDataType, WORD wStart, const CWordArray& values) {
    std::vector<CString> rows;
    rows.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const unsigned nAddress = RowAddress(wStart, i, 1);
        const WORD w = values[i];
        switch (nDataType) {
            case TYPE_CHAR:
                rows.push_back(Format("[%u]=%c 0x%x", nAddress,
                                      int(static_cast<signed char>(w & 0xFF)), unsigned(w)));
                break;
            case TYPE_SIGNED_16:
                rows.push_back(Format("[%u]=%d 0x%x", nAddress, int(static_cast<std::int16_t>(w)),
                                      unsigned(w)));
                break;
            case TYPE_HEX_16:
                rows.push_back(Format("[%u]=0x%04X ", nAddress, unsigned(w)));
                break;
            case TYPE_BINARY_16: {
                char szBits[17];
                for (int b = 0; b < 16; ++b) {
                    szBits[b] = (w >> (15 - b)) & 1 ? '1' : '0';
                }
                szBits[16] = 0;
                rows.push_back(Format("[%u]=%s ", nAddress, szBits));
                break;
            }
            default:
                rows.push_back(Format("[%u]=%d 0x%x", nAddress, int(w), unsigned(w)));
                break;
        }
    }
    return rows;
}

std::vector<CString> FormatDwordRows(Kind32 kind, WORD wStart,
                                     const std::vector<std::uint32_t>& values) {
    std::vector<CString> rows;
    rows.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const unsigned nAddress = RowAddress(wStart, i, 2);
        const std::uint32_t v = values[i];
        switch (kind) {
            case Kind32::Signed:
                rows.push_back(Format("[%u]=%d ", nAddress, int(static_cast<std::int32_t>(v))));
                break;
            case Kind32::Unsigned:
                rows.push_back(Format("[%u]=%u ", nAddress, unsigned(v)));
                break;
            case Kind32::Float:
                rows.push_back(Format("[%u]=%g ", nAddress, double(BitsFloat(v))));
                break;
        }
    }
    return rows;
}

std::vector<CString> FormatFloatRows(WORD wStart, const CFloatArray& values) {
    std::vector<CString> rows;
    rows.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        rows.push_back(Format("[%u]=%g ", RowAddress(wStart, i, 2), double(values[i])));
    }
    return rows;
}

std::vector<CString> FormatDoubleRows(WORD wStart, const CDoubleArray& values) {
    std::vector<CString> rows;
    rows.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        rows.push_back(Format("[%u]=%g ", RowAddress(wStart, i, 4), values[i]));
    }
    return rows;
}

std::vector<CString> FormatBitRows(WORD wStart, const CByteArray& states) {
    std::vector<CString> rows;
    rows.reserve(states.size());
    for (size_t i = 0; i < states.size(); ++i) {
        rows.push_back(Format("[%u]=%d ", RowAddress(wStart, i, 1), int(states[i])));
    }
    return rows;
}

namespace {
CReadValue Real(unsigned nAddress, double d, int nDigits) {
    if (!std::isfinite(d)) {
        return {nAddress, std::isnan(d) ? "nan" : d > 0 ? "inf" : "-inf", true};
    }
    return {nAddress, Format("%.*g", nDigits, d), false};
}
}  // namespace

std::vector<CReadValue> WordValues(int nDataType, WORD wStart, const CWordArray& values) {
    std::vector<CReadValue> out;
    for (size_t i = 0; i < values.size(); ++i) {
        const unsigned nAddress = RowAddress(wStart, i, 1);
        const WORD w = values[i];
        switch (nDataType) {
            case TYPE_CHAR:
                // The low byte as the window shows it: one Latin-1 character.
                out.push_back({nAddress, CString(1, char(w & 0xFF)), true});
                break;
            case TYPE_SIGNED_16:
                out.push_back({nAddress, Format("%d", int(static_cast<std::int16_t>(w))), false});
                break;
            case TYPE_HEX_16:
                out.push_back({nAddress, Format("0x%04X", unsigned(w)), true});
                break;
            case TYPE_BINARY_16: {
                CString strBits;
                for (int b = 15; b >= 0; --b) {
                    strBits += (w >> b) & 1 ? '1' : '0';
                }
                out.push_back({nAddress, strBits, true});
                break;
            }
            default:
                out.push_back({nAddress, Format("%u", unsigned(w)), false});
                break;
        }
    }
    return out;
}

std::vector<CReadValue> DwordValues(Kind32 kind, WORD wStart,
                                    const std::vector<std::uint32_t>& values) {
    std::vector<CReadValue> out;
    for (size_t i = 0; i < values.size(); ++i) {
        const unsigned nAddress = RowAddress(wStart, i, 2);
        const std::uint32_t v = values[i];
        if (kind == Kind32::Float) {
            out.push_back(Real(nAddress, double(BitsFloat(v)), 9));
        } else if (kind == Kind32::Signed) {
            out.push_back({nAddress, Format("%d", int(static_cast<std::int32_t>(v))), false});
        } else {
            out.push_back({nAddress, Format("%u", unsigned(v)), false});
        }
    }
    return out;
}

std::vector<CReadValue> RealValues(WORD wStart, const CFloatArray& values) {
    std::vector<CReadValue> out;
    for (size_t i = 0; i < values.size(); ++i) {
        out.push_back(Real(RowAddress(wStart, i, 2), double(values[i]), 9));
    }
    return out;
}

std::vector<CReadValue> RealValues(WORD wStart, const CDoubleArray& values) {
    std::vector<CReadValue> out;
    for (size_t i = 0; i < values.size(); ++i) {
        out.push_back(Real(RowAddress(wStart, i, 4), values[i], 17));
    }
    return out;
}

std::vector<CReadValue> BitValues(WORD wStart, const CByteArray& states) {
    std::vector<CReadValue> out;
    for (size_t i = 0; i < states.size(); ++i) {
        out.push_back({RowAddress(wStart, i, 1), states[i] ? "1" : "0", false});
    }
    return out;
}
