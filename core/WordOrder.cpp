#include "WordOrder.h"

#include <cstring>

namespace {
WORD SwapBytes(WORD w) {
    return WORD((w >> 8) | (w << 8));
}

bool SwapsBytes(WordOrder order) {
    return order == WordOrder::BADC || order == WordOrder::DCBA;
}

bool LowFirst(WordOrder order) {
    return order == WordOrder::CDAB || order == WordOrder::DCBA;
}

template <typename To, typename From>
To SameBits(From from) {
    static_assert(sizeof(To) == sizeof(From), "the same size");
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}
}  // namespace

std::uint32_t JoinDword(WORD wFirst, WORD wSecond, WordOrder order) {
    if (SwapsBytes(order)) {
        wFirst = SwapBytes(wFirst);
        wSecond = SwapBytes(wSecond);
    }
    const WORD wHigh = LowFirst(order) ? wSecond : wFirst;
    const WORD wLow = LowFirst(order) ? wFirst : wSecond;
    return (std::uint32_t(wHigh) << 16) | wLow;
}

void SplitDword(std::uint32_t v, WordOrder order, WORD regs[2]) {
    WORD wHigh = WORD(v >> 16);
    WORD wLow = WORD(v & 0xFFFF);
    if (SwapsBytes(order)) {
        wHigh = SwapBytes(wHigh);
        wLow = SwapBytes(wLow);
    }
    regs[0] = LowFirst(order) ? wLow : wHigh;
    regs[1] = LowFirst(order) ? wHigh : wLow;
}

std::uint64_t JoinQword(const WORD regs[4], WordOrder order) {
    std::uint64_t v = 0;
    for (int k = 0; k < 4; ++k) {
        const WORD w = regs[LowFirst(order) ? 3 - k : k];
        v = (v << 16) | (SwapsBytes(order) ? SwapBytes(w) : w);
    }
    return v;
}

void SplitQword(std::uint64_t v, WordOrder order, WORD regs[4]) {
    for (int k = 0; k < 4; ++k) {  // the least significant register first
        const auto w = WORD(v >> (16 * k));
        regs[LowFirst(order) ? k : 3 - k] = SwapsBytes(order) ? SwapBytes(w) : w;
    }
}

std::uint32_t FloatBits(float f) {
    return SameBits<std::uint32_t>(f);
}

float BitsFloat(std::uint32_t bits) {
    return SameBits<float>(bits);
}

std::uint64_t DoubleBits(double d) {
    return SameBits<std::uint64_t>(d);
}

double BitsDouble(std::uint64_t bits) {
    return SameBits<double>(bits);
}
