// Which unit ids answer on a connection: each unit in a range is asked the
// same small read, one after another, and told as having answered with data,
// with an exception (it exists, it refused the read), or not at all. Qt-free;
// the poller and the application run it on a thread of their own.
#pragma once

#include <functional>
#include <vector>

#include "platform/WinTypes.h"

class CModbus;

struct CUnitScanRequest {
    // Entries of the read-function list: holding or input registers, coils or
    // discrete inputs.
    int nReadFunction = 1;
    WORD wAddress = 0;
    WORD wQuantity = 1;
    BYTE byFirst = 1;
    BYTE byLast = 247;
};

struct CUnitAnswer {
    enum class EResult {
        DATA,       // the unit answered the read
        EXCEPTION,  // the unit answered with an exception: it is there
        SILENT,     // nothing came within the time-out, or a gateway said
                    // that no device answered behind it (exception 10 or 11)
        ERROR,      // something came that is not an answer (a CRC error, a
                    // malformed answer), or the connection failed
    };
    BYTE byUnit = 0;
    EResult result = EResult::SILENT;
    BYTE byException = 0;  // for EXCEPTION
    WORD wStatus = 0;      // the master's status
    CString strStatus;     // its text, for anything but DATA
    double dMillis = 0;    // from the request to the answer, or to giving up
};

// One read of nCount entries from wAddress of the table an entry of the
// read-function list names (holding registers for any other entry); the
// master's status.
WORD ReadTable(CModbus& modbus, int nReadFunction, BYTE byUnit, WORD wAddress, WORD wCount);

// "data", "exception 2", "silent" or "error".
CString ResultText(const CUnitAnswer& answer);

// What a master's status after a read says of the unit asked.
CUnitAnswer::EResult Classify(WORD wStatus, BOOL bTimedOut);

// Asks each unit from the first to the last. pfnBefore runs before each
// unit (to connect a master that a failure disconnected) and stops the scan
// when it returns false; pfnAnswered gets each unit's answer as it comes and
// stops the scan when it returns false. The answers so far.
std::vector<CUnitAnswer> ScanUnits(CModbus& modbus, const CUnitScanRequest& request,
                                   const std::function<bool()>& pfnBefore,
                                   const std::function<bool(const CUnitAnswer&)>& pfnAnswered);

// Makes again a kept host-and-port connection that a failed exchange
// dropped (a silent unit costs a Modbus/TCP master its connection), so the
// next unit or read is asked at all; false, with the cause in *pstrCause,
// when it cannot be made. Other masters need nothing.
bool KeepConnected(CModbus& modbus, CString* pstrCause);
