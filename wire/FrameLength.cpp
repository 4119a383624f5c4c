#include "FrameLength.h"

long CFrameLength::Answer(BYTE byRequestFunction, size_t nRequestPdu, const BYTE* pdu, size_t n) {
    if (n == 0) {
        return NEED_MORE;
    }
    const BYTE byFunction = pdu[0];
    if (byFunction & 0x80) {
        return 2;  // function | 0x80, exception code
    }
    switch (byFunction) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 12:
        case 17:
        case 20:
        case 21:
        case 23:
            // Function, byte count, data.
            return n < 2 ? NEED_MORE : 2 + long(pdu[1]);
        case 5:
        case 6:
        case 11:
        case 15:
        case 16:
            return 5;
        case 7:
            return 2;
        case 22:
            return 7;
        case 8:
            // An echo of the request, whatever its length.
            return byRequestFunction == 8 ? long(nRequestPdu) : UNKNOWN;
        default:
            return UNKNOWN;
    }
}

long CFrameLength::Request(const BYTE* pdu, size_t n) {
    if (n == 0) {
        return NEED_MORE;
    }
    switch (pdu[0]) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
            return 5;
        case 7:
        case 11:
        case 12:
        case 17:
            return 1;
        case 22:
            return 7;
        case 15:
        case 16:
            // Function, address, quantity, byte count, data.
            return n < 6 ? NEED_MORE : 6 + long(pdu[5]);
        case 23:
            return n < 10 ? NEED_MORE : 10 + long(pdu[9]);
        default:
            // Diagnostics carry data of any length.
            return UNKNOWN;
    }
}
