// The CRC-16 of RTU frames (polynomial 0xA001 reflected, initial value
// 0xFFFF), header-only so that the wire protocols and the traffic decoding
// share it without linking each other.
#pragma once

#include <array>
#include <cstddef>

#include "platform/WinTypes.h"

namespace Crc16Detail {
constexpr std::array<WORD, 256> MakeTable() {
    std::array<WORD, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        unsigned w = n;
        for (int nBit = 0; nBit < 8; ++nBit) {
            w = (w & 1) ? (w >> 1) ^ 0xA001 : w >> 1;
        }
        table[n] = static_cast<WORD>(w);
    }
    return table;
}
inline constexpr std::array<WORD, 256> kTable = MakeTable();
}  // namespace Crc16Detail

inline WORD ModbusCrc16(const BYTE* pb, size_t n) {
    unsigned w = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        w = (w >> 8) ^ Crc16Detail::kTable[(w ^ pb[i]) & 0xFF];
    }
    return static_cast<WORD>(w);
}
