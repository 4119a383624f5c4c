// RTU framing: the address and PDU followed by a CRC-16 (polynomial 0xA001
// reflected, initial value 0xFFFF), low byte first.
#pragma once

#include <cstddef>

#include "platform/WinTypes.h"

class CRtuFrame {
public:
    static WORD Crc16(const BYTE* pb, size_t n);
    // The frame for the address and PDU in pbAdu.
    static CByteArray Encode(const BYTE* pbAdu, size_t n);
};
