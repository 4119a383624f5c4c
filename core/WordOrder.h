// 32-bit values spread over two 16-bit registers in any of the four orders
// devices use, and 64-bit values over four. The bytes of a 32-bit value,
// most significant first, are A B C D; the order names the bytes as they
// arrive, first register first.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/WinTypes.h"

enum class WordOrder {
    ABCD = 0,  // big-endian: the Modbus convention
    CDAB = 1,  // low register first
    BADC = 2,  // bytes swapped within each register
    DCBA = 3,  // little-endian
};

constexpr int WORD_ORDER_COUNT = 4;

std::uint32_t JoinDword(WORD wFirst, WORD wSecond, WordOrder order);
// The two registers of v, first register at [0].
void SplitDword(std::uint32_t v, WordOrder order, WORD regs[2]);

// 64 bits over four registers in the same four orders, the bytes A to H
// most significant first: ABCD sends the registers most significant first,
// CDAB least significant first (all four reversed), BADC and DCBA as those
// with the bytes within each register swapped.
std::uint64_t JoinQword(const WORD regs[4], WordOrder order);
// The four registers of v, first register at [0].
void SplitQword(std::uint64_t v, WordOrder order, WORD regs[4]);

std::uint32_t FloatBits(float f);
float BitsFloat(std::uint32_t bits);
std::uint64_t DoubleBits(double d);
double BitsDouble(std::uint64_t bits);
