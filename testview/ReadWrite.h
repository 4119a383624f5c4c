// One read and one write as the test window makes them, without the window:
// the settings come in as the form's texts and selections, the result goes
// out as the rows and the status text.
#pragma once

#include <vector>

#include "RowFormat.h"
#include "RowList.h"
#include "platform/WinTypes.h"

class CModbus;

struct CReadSettings {
    CModbus* pModbus = nullptr;  // null: no connection selected or none of that name
    int nReadFunction = -1;
    int nDataType = -1;
    CString strDevice;
    CString strAddress;
    CString strQuantity;
    CString strConnection;  // the selected connection's name, for the log
};

struct CReadResult {
    // FALSE when nothing was read (no connection): no status, time or text.
    BOOL bRead = FALSE;
    // A throwing master raised instead of returning: counted as an error,
    // its text is the status text, the list is left as it is.
    BOOL bException = FALSE;
    // The read ran out of its time-out (the master's time-out status, or a
    // transport's time-out behind its own status).
    BOOL bTimedOut = FALSE;
    WORD wStatus = 0;
    DWORD dwElapsed = 0;     // milliseconds of the wrapping millisecond clock
    ULONGLONG qwMicros = 0;  // the same read on the microsecond steady clock
    CString strStatus;
    CListUpdate list;       // what the read does to the value list
    CDecodedValues values;  // the values of a successful register or bit read

    BOOL Failed() const { return bException || wStatus != 0; }
};

// The decimal text rules of the form: leading white space, an optional sign,
// digits up to the first other character, 0 when there are none.
long ParseNumber(const CString& str);
// The form's device, address and quantity texts as a read sends them.
WORD FormDevice(const CString& str);
WORD FormAddress(const CString& str);
WORD FormQuantity(const CString& str);
// The longest poll interval the form takes, in milliseconds.
constexpr long MAX_POLL_INTERVAL = 10000;
// The form's interval text as polling runs at it: one out of range runs at
// the longest, as the window puts the longest in its place.
DWORD FormInterval(const CString& str);

// A write value for a 32- or 64-bit type (nWidth 32 or 64): the whole text
// must be one decimal number that fits the kind at that width; false
// otherwise, and nothing is to be written.
bool ParseWideValue(Kind32 kind, unsigned nWidth, const CString& str, std::uint64_t& bits);
// A 16-bit register as hex (0x optional) or binary digits, for those views.
bool ParseRegisterText(int nDataType, const CString& str, WORD& wValue);
// The registers a register write of the data type sends for the form's
// text, first register first. False when nothing is to be sent: strReason
// then says why, or is empty when there was no value.
bool ParseWriteRegisters(int nDataType, const CString& str, CWordArray& registers,
                         CString& strReason);

CReadResult ReadOnce(const CReadSettings& settings);

struct CWriteSettings {
    CModbus* pModbus = nullptr;
    int nWriteFunction = -1;
    int nDataType = -1;
    CString strDevice;
    CString strAddress;
    CString strValue;
};

struct CWriteResult {
    BOOL bWritten = FALSE;  // an operation was sent
    WORD wStatus = 0;
    // What was sent, as the value list shows it ("4321", "1.5", "0x00FF",
    // a coil's "1" or "0"), and the exchange's round trip.
    CString strValue;
    ULONGLONG qwMicros = 0;
    // The message for the user on failure: the master's status text, or the
    // text of the exception a throwing master raised.
    CString strError;
};

CWriteResult WriteOnce(const CWriteSettings& settings);

// A write that went through, for the status bar: "Wrote 4321 to holding
// register 50 of device 11 (0.41 ms)", "Wrote 1 to coil 7 of device 11 ...".
CString WriteDoneText(const CWriteSettings& settings, const CWriteResult& result);
