#include "RtuFrame.h"

#include "core/Crc16.h"

WORD CRtuFrame::Crc16(const BYTE* pb, size_t n) {
    return ModbusCrc16(pb, n);
}

CByteArray CRtuFrame::Encode(const BYTE* pbAdu, size_t n) {
    CByteArray frame(pbAdu, pbAdu + n);
    const WORD wCrc = Crc16(pbAdu, n);
    frame.push_back(LOBYTE(wCrc));
    frame.push_back(HIBYTE(wCrc));
    return frame;
}
