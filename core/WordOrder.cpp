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

std::vector<std::uint32_t> DecodeDwords(const CWordArray& regs, WordOrder order) {
    std::vector<std::uint32_t> values;
    values.reserve(regs.size() / 2);
    for (size_t i = 0; i + 1 < regs.size(); i += 2) {
        values.push_back(JoinDword(regs[i], regs[i + 1], order));
    }
    return values;
}

std::uint32_t FloatBits(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

float BitsFloat(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
