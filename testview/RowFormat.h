// The rows of the value list: one line of text per value, labelled with the
// Modbus address of the first register (or the bit) it comes from.
#pragma once

#include <vector>

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
    DATA_TYPE_COUNT = 7,
};

// Entries of the write-function list, by position.
enum : int {
    WRITE_PRESET_SINGLE_REGISTER = 0,
    WRITE_FORCE_SINGLE_COIL = 1,
    WRITE_FUNCTION_COUNT = 2,
};

extern const char* const g_szReadFunctions[READ_FUNCTION_COUNT];
extern const char* const g_szDataTypes[DATA_TYPE_COUNT];
extern const char* const g_szWriteFunctions[WRITE_FUNCTION_COUNT];

// 16-bit registers as "char", "signed - 16" or "unsigned - 16"; value i is
// at wStart + i. A character 0 ends the row's text there.
std::vector<CString> FormatWordRows(int nDataType, WORD wStart, const CWordArray& values);
// 32-bit floats, value i at wStart + 2 i.
std::vector<CString> FormatFloatRows(WORD wStart, const CFloatArray& values);
// 64-bit doubles, value i at wStart + 4 i.
std::vector<CString> FormatDoubleRows(WORD wStart, const CDoubleArray& values);
// Bits, one 0/1 byte each, bit i at wStart + i.
std::vector<CString> FormatBitRows(WORD wStart, const CByteArray& states);
