// Reads an ASCII frame: anything before ':' is skipped, a ':' inside a frame
// starts it over, and CR LF ends it. When the function tells the length, a
// frame that runs past it fails at once instead of at the time-out.
#pragma once

#include "FrameParser.h"

class CAsciiParser : public CFrameParser {
public:
    EState Feed(const BYTE* pb, size_t n, size_t* pnUsed) override;
    // Silence means nothing in ASCII: an open frame stays incomplete.
    EState EndOfFrame() override;
    BOOL HasStarted() const override { return m_bStarted; }

protected:
    void Reset() override;

private:
    void Take(BYTE c);
    void Finish();

    bool m_bStarted = false;
    bool m_bCarriageReturn = false;
    int m_nHighNibble = -1;
    // Address, PDU and LRC as decoded so far.
    CByteArray m_decoded;
};
