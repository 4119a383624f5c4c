// The test window's read functions, data types and write functions by name,
// in the form's order: what the command-line poller takes and a workspace
// file keeps.
#pragma once

#include "RowFormat.h"

inline const char* const kFunctions[READ_FUNCTION_COUNT] = {"loopback", "holding",
                                                            "input-registers", "coils", "inputs"};
inline const char* const kTypes[DATA_TYPE_COUNT] = {
    "char",         "int16",          "uint16",       "float",        "float-reverse",
    "double",       "double-reverse", "int32-abcd",   "int32-cdab",   "int32-badc",
    "int32-dcba",   "uint32-abcd",    "uint32-cdab",  "uint32-badc",  "uint32-dcba",
    "float32-abcd", "float32-cdab",   "float32-badc", "float32-dcba", "hex16",
    "bin16",        "int64-abcd",     "int64-cdab",   "int64-badc",   "int64-dcba",
    "uint64-abcd",  "uint64-cdab",    "uint64-badc",  "uint64-dcba",  "float64-abcd",
    "float64-cdab", "float64-badc",   "float64-dcba"};
inline const char* const kWriteFunctions[WRITE_FUNCTION_COUNT] = {"register", "coil"};
