#include "RtuParser.h"

#include "FrameLength.h"
#include "RtuFrame.h"

namespace {
constexpr size_t CRC_SIZE = 2;
}  // namespace

void CRtuParser::Reset() {
    m_state = EState::NEED_MORE;
    m_frame.clear();
    m_raw.clear();
    m_nTotal = 0;
    m_bLengthUnknown = false;
}

CFrameParser::EState CRtuParser::Feed(const BYTE* pb, size_t n, size_t* pnUsed) {
    size_t nUsed = 0;
    while (m_state == EState::NEED_MORE && nUsed < n) {
        if (m_raw.size() >= MAX_ADU + CRC_SIZE) {
            m_state = EState::OVERSIZED;
            break;
        }
        m_raw.push_back(pb[nUsed++]);
        if (m_nTotal == 0 && !m_bLengthUnknown && m_raw.size() >= 2) {
            const long nPdu = ExpectedPdu(m_raw.data() + 1, m_raw.size() - 1);
            if (nPdu == CFrameLength::UNKNOWN) {
                m_bLengthUnknown = true;
            } else if (nPdu > 0) {
                m_nTotal = 1 + size_t(nPdu) + CRC_SIZE;
                if (m_nTotal > MAX_ADU + CRC_SIZE) {
                    m_state = EState::OVERSIZED;
                }
            }
        }
        if (m_nTotal != 0 && m_raw.size() == m_nTotal) {
            Check();
        }
    }
    if (pnUsed != nullptr) {
        *pnUsed = nUsed;
    }
    return m_state;
}

CFrameParser::EState CRtuParser::EndOfFrame() {
    if (m_state != EState::NEED_MORE || m_raw.empty()) {
        return m_state;
    }
    // Address, function and CRC at the least; a frame the function sized
    // must have all of it.
    if (m_raw.size() < 2 + CRC_SIZE || (m_nTotal != 0 && m_raw.size() < m_nTotal)) {
        m_state = EState::MALFORMED;
        return m_state;
    }
    return Check();
}

CFrameParser::EState CRtuParser::Check() {
    const size_t nAdu = m_raw.size() - CRC_SIZE;
    const WORD wCrc = MAKEWORD(m_raw[nAdu], m_raw[nAdu + 1]);
    if (CRtuFrame::Crc16(m_raw.data(), nAdu) != wCrc) {
        m_state = EState::BAD_CHECKSUM;
        return m_state;
    }
    m_frame.assign(m_raw.begin(), m_raw.begin() + static_cast<std::ptrdiff_t>(nAdu));
    m_state = EState::COMPLETE;
    return m_state;
}
