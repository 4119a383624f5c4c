// ASCII framing: ':' then the address, PDU and LRC as pairs of upper-case
// hexadecimal digits, then CR LF. The LRC is the two's complement of the
// 8-bit sum of address and PDU.
#pragma once

#include <cstddef>

#include "platform/WinTypes.h"

class CAsciiFrame {
public:
    static BYTE Lrc(const BYTE* pb, size_t n);
    static CByteArray Encode(const BYTE* pbAdu, size_t n);
    // 0..15 for a hexadecimal digit (either case), otherwise -1.
    static int HexValue(BYTE c);
};
