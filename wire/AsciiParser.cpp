#include "AsciiParser.h"

#include "AsciiFrame.h"
#include "FrameLength.h"

void CAsciiParser::Reset() {
    m_state = EState::NEED_MORE;
    m_frame.clear();
    m_decoded.clear();
    m_bStarted = false;
    m_bCarriageReturn = false;
    m_nHighNibble = -1;
}

CFrameParser::EState CAsciiParser::Feed(const BYTE* pb, size_t n, size_t* pnUsed) {
    size_t nUsed = 0;
    while (m_state == EState::NEED_MORE && nUsed < n) {
        Take(pb[nUsed++]);
    }
    if (pnUsed != nullptr) {
        *pnUsed = nUsed;
    }
    return m_state;
}

void CAsciiParser::Take(BYTE c) {
    if (c == ':') {
        // A new frame, whatever came before.
        m_decoded.clear();
        m_bStarted = true;
        m_bCarriageReturn = false;
        m_nHighNibble = -1;
        return;
    }
    if (!m_bStarted) {
        return;
    }
    if (m_bCarriageReturn) {
        if (c == '\n') {
            Finish();
        } else {
            m_state = EState::MALFORMED;
        }
        return;
    }
    if (c == '\r') {
        if (m_nHighNibble >= 0) {
            m_state = EState::MALFORMED;
        }
        m_bCarriageReturn = true;
        return;
    }
    const int nValue = CAsciiFrame::HexValue(c);
    if (nValue < 0) {
        m_state = EState::MALFORMED;
        return;
    }
    if (m_nHighNibble < 0) {
        m_nHighNibble = nValue;
        return;
    }
    if (m_decoded.size() >= MAX_ADU + 1) {
        m_state = EState::OVERSIZED;
        return;
    }
    m_decoded.push_back(static_cast<BYTE>(m_nHighNibble << 4 | nValue));
    m_nHighNibble = -1;
    // Address, PDU, LRC: more than the function allows is wrong already.
    if (m_decoded.size() > 2) {
        const long nPdu = ExpectedPdu(m_decoded.data() + 1, m_decoded.size() - 1);
        if (nPdu > 0 && m_decoded.size() > 1 + size_t(nPdu) + 1) {
            m_state = EState::MALFORMED;
        }
    }
}

void CAsciiParser::Finish() {
    if (m_decoded.size() < 3) {
        m_state = EState::MALFORMED;
        return;
    }
    const size_t nAdu = m_decoded.size() - 1;
    const long nPdu = ExpectedPdu(m_decoded.data() + 1, nAdu - 1);
    if (nPdu > 0 && nAdu != 1 + size_t(nPdu)) {
        m_state = EState::MALFORMED;
        return;
    }
    if (CAsciiFrame::Lrc(m_decoded.data(), nAdu) != m_decoded[nAdu]) {
        m_state = EState::BAD_CHECKSUM;
        return;
    }
    m_frame.assign(m_decoded.begin(), m_decoded.begin() + static_cast<std::ptrdiff_t>(nAdu));
    m_state = EState::COMPLETE;
}

CFrameParser::EState CAsciiParser::EndOfFrame() {
    if (m_state == EState::NEED_MORE && m_bStarted) {
        m_state = EState::MALFORMED;
    }
    return m_state;
}
