// The incremental reader of one serial Modbus frame, common to RTU and
// ASCII. It is told what to expect (the answer to a given request, or a
// request) so that it can end a frame as soon as the function says it is
// complete. Input is bounded: a frame larger than Modbus allows is refused.
#pragma once

#include <cstddef>

#include "platform/WinTypes.h"

class CFrameParser {
public:
    enum class EState {
        NEED_MORE,     // the frame goes on (or has not begun)
        COMPLETE,      // GetFrame() holds it
        BAD_CHECKSUM,  // whole, but its CRC or LRC is wrong
        MALFORMED,     // ended too short, too long, or with bytes no frame has
        OVERSIZED,     // longer than any Modbus frame
    };

    // Address and PDU: 1 + 253 bytes.
    static constexpr size_t MAX_ADU = 254;

    virtual ~CFrameParser() = default;

    // Starts over, expecting the answer to the request (address, PDU).
    void ExpectAnswerTo(const BYTE* pbRequest, size_t nRequest);
    // Starts over, expecting a request.
    void ExpectRequest();

    // Takes bytes until the frame reaches a final state; *pnUsed says how
    // many were taken (the rest belong to whatever follows).
    virtual EState Feed(const BYTE* pb, size_t n, size_t* pnUsed) = 0;
    // The line fell silent: the frame ends with what has arrived.
    virtual EState EndOfFrame() = 0;
    // Something of a frame has arrived.
    virtual BOOL HasStarted() const = 0;
    EState GetState() const { return m_state; }
    // Address and PDU without the checksum, once COMPLETE.
    const CByteArray& GetFrame() const { return m_frame; }

protected:
    virtual void Reset() = 0;
    // The PDU length announced by the PDU so far, in CFrameLength's terms.
    long ExpectedPdu(const BYTE* pdu, size_t n) const;

    EState m_state = EState::NEED_MORE;
    CByteArray m_frame;

private:
    bool m_bAnswer = false;
    BYTE m_byRequestFunction = 0;
    size_t m_nRequestPdu = 0;
};
