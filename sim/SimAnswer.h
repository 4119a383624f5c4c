// How the simulator answers one request, decided alike for every link: the
// device's answer PDU with the fault rule applied, what goes before and
// after the framed answer, and the pace of sending. The transports only frame
// the PDU and hand over their write and wait.
#pragma once

#include <functional>

#include "SimDevice.h"
#include "SimFaults.h"

class CSimAnswer {
public:
    // Modbus/TCP, a serial line, RTU frames on a TCP connection, and
    // Modbus/TCP frames in datagrams.
    enum class ELink { TCP, SERIAL, RTU_OVER_TCP, UDP };
    enum class EAction {
        SEND,
        SILENT,  // nothing goes out; the connection or line stays
        CLOSE,   // the connection closes instead of answering (links with one)
    };
    enum class EPace { AT_ONCE, SPLIT_HEADER, BYTE_BY_BYTE, GAP };

    // The byte of garbage and of extra bytes.
    static constexpr BYTE JUNK = 0xEE;

    EAction m_action = EAction::SEND;
    BYTE m_unit = 0;
    CByteArray m_pdu;
    // Modbus/TCP and UDP: added to the length field of the header.
    size_t m_nLengthBias = 0;
    // Serial and RTU over TCP: the CRC or LRC is spoiled.
    bool m_bBadChecksum = false;
    // Sent in the same write as the framed answer, before and after it.
    CByteArray m_before;
    CByteArray m_after;
    // Milliseconds before anything goes out.
    int m_nDelayMillis = 0;
    EPace m_pace = EPace::AT_ONCE;
    int m_nPaceMillis = 0;

    // Carries out (unless the fault forbids it) the request pdu[0..n) for
    // unit on device and shapes the answer; pFault is the rule that
    // applies, or null.
    static CSimAnswer Make(ELink link, CSimDevice& device, BYTE unit, const BYTE* pdu, size_t n,
                           const CSimFaultRule* pFault);

    // "request N: unit U function F", and the fault when there is one.
    static CString Describe(ULONGLONG nRequest, BYTE unit, BYTE byFunction,
                            const CSimFaultRule* pFault);

    // The answer as an RTU frame: unit, PDU and CRC (spoiled when asked).
    CByteArray RtuFrame() const;

    using Write = std::function<bool(const BYTE* pb, size_t n)>;
    // Waits the milliseconds given; false when the server stops meanwhile.
    using Wait = std::function<bool(int nMillis)>;
    // Sends the framed answer between m_before and m_after, after the delay
    // and at the pace; false when a write or wait fails.
    bool Send(const CByteArray& framed, const Write& write, const Wait& wait) const;

private:
    void ApplyFault(ELink link, BYTE byRequestFunction, const CSimFaultRule& fault);
};
