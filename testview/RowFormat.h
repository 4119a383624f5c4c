// The rows of the value list: one line of text per value, labelled with the
// Modbus address of the first register (or the bit) it comes from.
#pragma once

#include <cstdint>
#include <vector>

#include "core/WordOrder.h"
#include "platform/WinTypes.h"

// Entries of the read-function list, by position.
enum : int {
    READ_LOOPBACK = 0,
    READ_OUTPUT_REGISTERS = 1,
    READ_INPUT_REGISTERS = 2,
    READ_OUTPUT_STATUS = 3,
    READ_INPUT_STATUS = 4,
    READ_FUNCTION_COUNT = 5,
};

// Entries of the data-type list, by position.
enum : int {
    TYPE_CHAR = 0,
    TYPE_SIGNED_16 = 1,
    TYPE_UNSIGNED_16 = 2,
    TYPE_FLOAT = 3,
    TYPE_FLOAT_REVERSE = 4,
    TYPE_DOUBLE = 5,
    TYPE_DOUBLE_REVERSE = 6,
    // Beyond the first seven: 32-bit values in each of the four orders, in
    // WordOrder's sequence, then two views of plain 16-bit registers.
    TYPE_SIGNED_32_FIRST = 7,
    TYPE_UNSIGNED_32_FIRST = TYPE_SIGNED_32_FIRST + 4,
    TYPE_FLOAT_32_FIRST = TYPE_UNSIGNED_32_FIRST + 4,
    TYPE_HEX_16 = TYPE_FLOAT_32_FIRST + 4,
    TYPE_BINARY_16 = TYPE_HEX_16 + 1,
    DATA_TYPE_COUNT = TYPE_BINARY_16 + 1,
};

enum class Kind32 { Signed, Unsigned, Float };

// For a 32-bit type in any order: its kind and order. False for other types.
bool Is32BitType(int nDataType, Kind32& kind, WordOrder& order);
// 16-bit registers shown one value each (the first three types, hex, binary).
bool IsWordType(int nDataType);

// Entries of the write-function list, by position.
enum : int {
    WRITE_PRESET_SINGLE_REGISTER = 0,
    WRITE_FORCE_SINGLE_COIL = 1,
    WRITE_FUNCTION_COUNT = 2,
};

extern const char* const g_szReadFunctions[READ_FUNCTION_COUNT];
extern const char* const g_szDataTypes[DATA_TYPE_COUNT];
extern const char* const g_szWriteFunctions[WRITE_FUNCTION_COUNT];

// 16-bit registers as "char", "signed - 16", "unsigned - 16", hex or binary; value i is
// at wStart + i. A character 0 ends the row's text there.
std::vector<CString> FormatWordRows(int nDataType, WORD wStart, const CWordArray& values);
// 32-bit values decoded from pairs of registers, value i at wStart + 2 i.
std::vector<CString> FormatDwordRows(Kind32 kind, WORD wStart,
                                     const std::vector<std::uint32_t>& values);
// 32-bit floats, value i at wStart + 2 i.
std::vector<CString> FormatFloatRows(WORD wStart, const CFloatArray& values);
// 64-bit doubles, value i at wStart + 4 i.
std::vector<CString> FormatDoubleRows(WORD wStart, const CDoubleArray& values);
// Bits, one 0/1 byte each, bit i at wStart + i.
std::vector<CString> FormatBitRows(WORD wStart, const CByteArray& states);

// One value read, exactly, for a program rather than a person: the address it
// starts at and its text. Numbers are decimal (floats with every digit that
// tells them apart); bText marks what is not a number: a character, hex or
// binary digits, or a float that is not finite.
struct CReadValue {
    unsigned nAddress = 0;
    CString strValue;
    bool bText = false;
};
std::vector<CReadValue> WordValues(int nDataType, WORD wStart, const CWordArray& values);
std::vector<CReadValue> DwordValues(Kind32 kind, WORD wStart,
                                    const std::vector<std::uint32_t>& values);
std::vector<CReadValue> RealValues(WORD wStart, const CFloatArray& values);
std::vector<CReadValue> RealValues(WORD wStart, const CDoubleArray& values);
std::vector<CReadValue> BitValues(WORD wStart, const CByteArray& states);
