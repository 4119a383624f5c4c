// Fault injection for the simulated server: rules that pick requests (by start
// address, function or arrival number) and say how their answer goes wrong.
//
// Text form of a rule (the --fault option):
//   KIND[=VALUE][@SELECTOR][:LIMIT]
// KIND and VALUE:
//   delay=MS            answer after MS milliseconds
//   exception=CODE      answer exception CODE (0..255) instead; not executed
//   wrong-unit[=UNIT]   the answer carries unit UNIT (default: request's + 1)
//   wrong-function[=FN] the answer carries function FN (default: request's + 1)
//   cut-short=K         only the first K bytes of the answer PDU go out, and
//                       the length field announces just those
//   bad-length[=K]      the length field announces K (default 1) bytes more
//                       than are sent; the connection stays open, so the
//                       master has to time out
//   split-header[=MS]   the header goes out as 3 + 3 bytes and then the rest,
//                       MS (default 20) milliseconds apart
//   byte-by-byte[=MS]   every byte its own send, MS (default 2) apart
//   close               the connection is closed instead of answering
//   no-answer           the request is swallowed; the connection stays
//   extra-bytes=K       K garbage bytes (0xEE) follow the answer in the same
//                       send; extra-bytes=0x0A0B.. sends those bytes instead
// Serial lines only (Modbus/TCP ignores them):
//   bad-crc             the answer carries a wrong CRC (RTU) or LRC (ASCII)
//   gap=MS              the answer stops halfway for MS milliseconds, longer
//                       than the silent interval that ends an RTU frame
//   garbage=K           K junk bytes (0xEE) go out just before the answer
// On a serial line close acts as no-answer: there is no connection to close.
// SELECTOR (none: every request):
//   A or A-B            requests whose start address lies in A..B
//   A-B/fnN, fnN        ... only for function N
//   request=N           the Nth request this server receives (1-based)
//   next=K              the next K requests after the rule is added
// LIMIT: the rule applies at most LIMIT times (default: no limit).
// The first matching rule applies; a request gets one fault at most. Requests
// that carry no start address (diagnostics, unknown functions) never match an
// address range. close, no-answer and exception leave the request unexecuted.
#pragma once

#include <mutex>
#include <vector>

#include "platform/WinTypes.h"

class CSimFaultRule {
public:
    enum class Kind {
        Delay,
        Exception,
        WrongUnit,
        WrongFunction,
        CutShort,
        BadLength,
        SplitHeader,
        ByteByByte,
        Close,
        NoAnswer,
        ExtraBytes,
        BadCrc,
        Gap,
        Garbage,
    };
    enum class Select { Any, AddressRange, RequestNumber, NextRequests };

    Kind m_kind = Kind::Delay;
    // The kind's value; m_bHasValue FALSE means its default.
    DWORD m_dwValue = 0;
    BOOL m_bHasValue = FALSE;
    // extra-bytes: the bytes to append when given explicitly.
    CByteArray m_extra;

    Select m_select = Select::Any;
    WORD m_wFirst = 0;
    WORD m_wLast = 0xFFFF;
    // Function filter; 0 means any function.
    BYTE m_byFunction = 0;
    // RequestNumber: the request's number; NextRequests: how many.
    ULONGLONG m_nRequest = 0;
    // Applications left; 0 means no limit.
    DWORD m_nLimit = 0;

    // The value, or dwDefault when none was given.
    DWORD ValueOr(DWORD dwDefault) const { return m_bHasValue ? m_dwValue : dwDefault; }
};

class CSimFaults {
public:
    // Parses the text form; on failure strError says what is wrong.
    static BOOL Parse(const CString& strText, CSimFaultRule& rule, CString& strError);
    // The rule in its text form.
    static CString Describe(const CSimFaultRule& rule);

    // nRequestsSoFar anchors a "next=K" rule: it covers the requests after it.
    void Add(const CSimFaultRule& rule, ULONGLONG nRequestsSoFar);
    void Clear();
    size_t GetCount() const;

    // Finds the rule for request number nRequest (1-based) with PDU pdu and
    // uses up one of its applications. FALSE when no rule applies.
    BOOL Match(ULONGLONG nRequest, const BYTE* pdu, size_t n, CSimFaultRule& rule);

private:
    class CEntry {
    public:
        CSimFaultRule m_rule;
        ULONGLONG m_nBase = 0;
        DWORD m_nUsed = 0;
    };

    static bool Selects(const CEntry& entry, ULONGLONG nRequest, const BYTE* pdu, size_t n);

    mutable std::mutex m_mutex;
    std::vector<CEntry> m_entries;
};
