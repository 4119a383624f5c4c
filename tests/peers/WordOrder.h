// Expected register contents of 32- and 64-bit values, worked out from the
// wire rules alone so that the master's own packing is not its own judge:
// reverse FALSE puts the least significant 16 bits in the lowest register,
// reverse TRUE the most significant.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

template <class T>
std::vector<uint16_t> WordsOf(T value, bool bReverse) {
    constexpr size_t nWords = sizeof value / 2;
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof value);
    std::vector<uint16_t> words;
    for (size_t k = 0; k < nWords; ++k) {
        words.push_back(static_cast<uint16_t>(bits >> 16 * (bReverse ? nWords - 1 - k : k)));
    }
    return words;
}
