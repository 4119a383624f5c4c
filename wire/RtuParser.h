// Reads an RTU frame. RTU has no delimiter: a frame ends when the function
// says it is complete, or, for functions whose length it cannot tell, when
// the line falls silent (EndOfFrame). Bytes that arrive ahead of a frame
// cannot be told from it; they make the frame fail its CRC.
#pragma once

#include "FrameParser.h"

class CRtuParser : public CFrameParser {
public:
    EState Feed(const BYTE* pb, size_t n, size_t* pnUsed) override;
    EState EndOfFrame() override;
    BOOL HasStarted() const override { return !m_raw.empty(); }

protected:
    void Reset() override;

private:
    // Ends the frame at what has arrived and checks its CRC.
    EState Check();

    CByteArray m_raw;
    // Address + PDU + CRC once the function tells; 0 before.
    size_t m_nTotal = 0;
    bool m_bLengthUnknown = false;
};
