// Expected register contents of 32- and 64-bit values, worked out from the
// wire rules alone so that the master's own packing is not its own judge:
// reverse FALSE puts the least significant 16 bits in the lowest register,
// reverse TRUE the most significant.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

inline std::vector<uint16_t> WordsOf(uint64_t bits, size_t nWords, bool bReverse) {
    std::vector<uint16_t> words;
    for (size_t k = 0; k < nWords; ++k) {
        size_t shift = bReverse ? 16 * (nWords - 1 - k) : 16 * k;
        words.push_back(static_cast<uint16_t>(bits >> shift));
    }
    return words;
}

inline std::vector<uint16_t> WordsOf(float f, bool bReverse) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return WordsOf(bits, 2, bReverse);
}

inline std::vector<uint16_t> WordsOf(double d, bool bReverse) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return WordsOf(bits, 4, bReverse);
}
