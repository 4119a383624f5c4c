// How long a Modbus PDU is, judged from its first bytes: the serial framings
// need it because RTU marks no frame end and a master should not wait for
// silence when the function already says where the frame ends.
#pragma once

#include <cstddef>

#include "platform/WinTypes.h"

class CFrameLength {
public:
    // Results besides a length: more bytes are needed to tell, or the function
    // does not tell (the frame ends with a silence or its delimiter).
    static constexpr long NEED_MORE = 0;
    static constexpr long UNKNOWN = -1;

    // The length of an answer PDU (function code on) from its first n bytes.
    // byRequestFunction and nRequestPdu describe the request it answers:
    // diagnostics echo their request.
    static long Answer(BYTE byRequestFunction, size_t nRequestPdu, const BYTE* pdu, size_t n);
    // The length of a request PDU from its first n bytes (the slave's view).
    static long Request(const BYTE* pdu, size_t n);
};
