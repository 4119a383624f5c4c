#include "AsciiFrame.h"

namespace {
const char HEX_DIGITS[] = "0123456789ABCDEF";

void PutHex(CByteArray& out, BYTE b) {
    out.push_back(static_cast<BYTE>(HEX_DIGITS[b >> 4]));
    out.push_back(static_cast<BYTE>(HEX_DIGITS[b & 0x0F]));
}
}  // namespace

BYTE CAsciiFrame::Lrc(const BYTE* pb, size_t n) {
    BYTE bySum = 0;
    for (size_t i = 0; i < n; ++i) {
        bySum = static_cast<BYTE>(bySum + pb[i]);
    }
    return static_cast<BYTE>(-bySum);
}

CByteArray CAsciiFrame::Encode(const BYTE* pbAdu, size_t n) {
    CByteArray frame;
    frame.reserve(2 * n + 5);
    frame.push_back(':');
    for (size_t i = 0; i < n; ++i) {
        PutHex(frame, pbAdu[i]);
    }
    PutHex(frame, Lrc(pbAdu, n));
    frame.push_back('\r');
    frame.push_back('\n');
    return frame;
}

int CAsciiFrame::HexValue(BYTE c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}
