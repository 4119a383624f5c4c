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
    // After all of those: 64-bit values in each order, in the same sequence.
    TYPE_SIGNED_64_FIRST = TYPE_BINARY_16 + 1,
    TYPE_UNSIGNED_64_FIRST = TYPE_SIGNED_64_FIRST + 4,
    TYPE_FLOAT_64_FIRST = TYPE_UNSIGNED_64_FIRST + 4,
    DATA_TYPE_COUNT = TYPE_FLOAT_64_FIRST + 4,
};

// The kind of a 32-bit type, and of a 64-bit one (whose float is a double).
enum class Kind32 { Signed, Unsigned, Float };

// For a 32-bit type in any order: its kind and order. False for other types.
bool Is32BitType(int nDataType, Kind32& kind, WordOrder& order);
// The same for a 64-bit type.
bool Is64BitType(int nDataType, Kind32& kind, WordOrder& order);
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

// One value read, decoded but not yet text: the address it starts at (the
// first of its registers, or its bit), what it is, and its bits: the
// register, the 32 or 64 bits, or the bit's 0 or 1.
enum class ValueKind {
    Char,
    Int16,
    Uint16,
    Hex16,
    Binary16,
    Int32,
    Uint32,
    Float,
    Double,
    Int64,
    Uint64,
    Bit
};
struct CTypedValue {
    unsigned nAddress = 0;  // counted in 32 bits: start 65535, second value 65536
    ValueKind kind = ValueKind::Uint16;
    std::uint64_t nBits = 0;
};
using CDecodedValues = std::vector<CTypedValue>;

// Registers one value of the data type takes: 1, 2 (32-bit, float) or 4
// (64-bit, double).
unsigned RegistersPerValue(int nDataType);
// Registers as the data type reads them, value i at wStart + i times its
// registers; registers short of a whole value at the end are left out. An
// unknown data type reads plain 16-bit registers.
CDecodedValues DecodeValues(int nDataType, WORD wStart, const CWordArray& registers);
// Bits, one 0/1 byte each, bit i at wStart + i.
CDecodedValues DecodeValues(WORD wStart, const CByteArray& bits);
// The other way: the registers of one value of the data type, first
// register first, for its bits.
CWordArray ValueRegisters(int nDataType, std::uint64_t nBits);

// The value list's row, as the list box shows it: "[address]=" and the value
// (characters with their code, 16-bit registers with their hex). A character
// 0 ends the row's text there.
CString RowText(const CTypedValue& value);
std::vector<CString> RowTexts(const CDecodedValues& values);
// The value exactly, for a program rather than a person: numbers in decimal
// (floats with every digit that tells them apart), a character as itself,
// hex and binary digits as the window shows them.
CString ExactText(const CTypedValue& value);
// Whether ExactText is not a number: a character, hex or binary digits, or a
// float that is not finite ("nan", "inf", "-inf").
bool IsTextValue(const CTypedValue& value);
