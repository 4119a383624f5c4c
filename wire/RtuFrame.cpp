#include "RtuFrame.h"

WORD CRtuFrame::Crc16(const BYTE* pb, size_t n) {
    WORD wCrc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        wCrc ^= pb[i];
        for (int nBit = 0; nBit < 8; ++nBit) {
            wCrc =
                (wCrc & 1) ? static_cast<WORD>((wCrc >> 1) ^ 0xA001) : static_cast<WORD>(wCrc >> 1);
        }
    }
    return wCrc;
}

CByteArray CRtuFrame::Encode(const BYTE* pbAdu, size_t n) {
    CByteArray frame(pbAdu, pbAdu + n);
    const WORD wCrc = Crc16(pbAdu, n);
    frame.push_back(LOBYTE(wCrc));
    frame.push_back(HIBYTE(wCrc));
    return frame;
}
