// Windows scalar types and the framework's container aliases, as the rest of
// the code base names them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using USHORT = std::uint16_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using BOOL = int;
using HRESULT = std::int32_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// UTF-8 plays the part of the ANSI code page.
using CString = std::string;
using CByteArray = std::vector<BYTE>;
using CWordArray = std::vector<WORD>;
using CFloatArray = std::vector<float>;
using CDoubleArray = std::vector<double>;

inline WORD MAKEWORD(BYTE lo, BYTE hi) {
    return static_cast<WORD>(lo | (hi << 8));
}
inline BYTE LOBYTE(WORD w) {
    return static_cast<BYTE>(w & 0xFF);
}
inline BYTE HIBYTE(WORD w) {
    return static_cast<BYTE>(w >> 8);
}
