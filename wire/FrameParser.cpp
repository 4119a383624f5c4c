#include "FrameParser.h"

#include "FrameLength.h"

void CFrameParser::ExpectAnswerTo(const BYTE* pbRequest, size_t nRequest) {
    m_bAnswer = true;
    m_byRequestFunction = nRequest >= 2 ? pbRequest[1] : 0;
    m_nRequestPdu = nRequest >= 1 ? nRequest - 1 : 0;
    Reset();
}

void CFrameParser::ExpectRequest() {
    m_bAnswer = false;
    Reset();
}

long CFrameParser::ExpectedPdu(const BYTE* pdu, size_t n) const {
    return m_bAnswer ? CFrameLength::Answer(m_byRequestFunction, m_nRequestPdu, pdu, n)
                     : CFrameLength::Request(pdu, n);
}
