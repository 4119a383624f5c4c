// One request of any function, given as the device address and the PDU's
// bytes, sent through a master and its answer kept as it came: the poller's
// --raw and the application's Send Request window both use it.
#pragma once

#include <string>

#include "platform/WinTypes.h"

class CModbus;

struct CRawExchange {
    CByteArray request;  // device address, function code, data
    CByteArray answer;   // the same, as it came back; empty when nothing did
    std::string strStatus;
    bool bOk = false;
    double dMillis = 0;
};

// The longest PDU a request may carry (a 256-byte serial frame less the
// address and the check).
constexpr size_t MAX_RAW_PDU = 253;

// Pairs of hex digits, with blanks, ':' and '-' between them skipped, as
// bytes; false when the text is anything else.
bool ParseRawHex(const CString& strText, CByteArray& bytes);

// Sends pdu (function code and data) to byUnit. A PDU that is empty or
// longer than MAX_RAW_PDU is not sent: the exchange then says why in its
// status. An exception answer, which some masters tell only as a status,
// comes back as the answer it stands for.
CRawExchange SendRawRequest(CModbus& modbus, BYTE byUnit, const CByteArray& pdu);
