#include "SimAnswer.h"

#include <cstdio>

#include "core/FunctionCodes.h"
#include "wire/RtuFrame.h"

namespace {
using Kind = CSimFaultRule::Kind;

// The header of a Modbus/TCP answer goes out as 3 + 3 bytes and the rest.
constexpr size_t SPLIT_FIRST = 3;
constexpr size_t SPLIT_SECOND = 6;
constexpr int DEFAULT_SPLIT_MS = 20;
constexpr int DEFAULT_BYTE_MS = 2;

// Answers whose second byte counts the data bytes after it.
bool HasByteCount(BYTE byFunction) {
    return byFunction >= ModbusFunction::READ_COILS &&
           byFunction <= ModbusFunction::READ_INPUT_REGISTERS;
}

// Frames with a checksum and no length field: the faults of a serial line
// apply to them.
bool IsChecksummed(CSimAnswer::ELink link) {
    return link == CSimAnswer::ELink::SERIAL || link == CSimAnswer::ELink::RTU_OVER_TCP;
}

bool HasConnection(CSimAnswer::ELink link) {
    return link == CSimAnswer::ELink::TCP || link == CSimAnswer::ELink::RTU_OVER_TCP;
}
}  // namespace

CSimAnswer CSimAnswer::Make(ELink link, CSimDevice& device, BYTE unit, const BYTE* pdu, size_t n,
                            const CSimFaultRule* pFault) {
    CSimAnswer answer;
    answer.m_unit = unit;
    const Kind kind = pFault != nullptr ? pFault->m_kind : Kind::Delay;
    if (pFault != nullptr && (kind == Kind::Close || kind == Kind::NoAnswer)) {
        // A serial line or a datagram has no connection to close.
        answer.m_action =
            kind == Kind::Close && HasConnection(link) ? EAction::CLOSE : EAction::SILENT;
        return answer;
    }
    if (pFault != nullptr && kind == Kind::Exception) {
        answer.m_pdu = {static_cast<BYTE>(pdu[0] | ModbusFunction::EXCEPTION_FLAG),
                        static_cast<BYTE>(pFault->m_dwValue)};
    } else if (!device.ProcessPdu(unit, pdu, n, answer.m_pdu)) {
        // No device behind this unit id: like a gateway, say nothing.
        answer.m_action = EAction::SILENT;
        return answer;
    }
    if (IsChecksummed(link) && unit == 0) {
        // An RTU broadcast is carried out, never answered; a converter puts
        // RTU frames over TCP on such a line.
        answer.m_action = EAction::SILENT;
        return answer;
    }
    if (pFault != nullptr) {
        answer.ApplyFault(link, pdu[0], *pFault);
    }
    return answer;
}

void CSimAnswer::ApplyFault(ELink link, BYTE byRequestFunction, const CSimFaultRule& fault) {
    const bool bSerial = IsChecksummed(link);
    switch (fault.m_kind) {
        case Kind::Delay:
            m_nDelayMillis = static_cast<int>(fault.m_dwValue);
            break;
        case Kind::CutShort:
            if (fault.m_dwValue < m_pdu.size()) {
                m_pdu.resize(fault.m_dwValue);
            }
            break;
        case Kind::BadLength:
            // A serial frame has no length field: its byte count lies.
            if (!bSerial) {
                m_nLengthBias = fault.ValueOr(1);
            } else if (m_pdu.size() >= 2 && HasByteCount(m_pdu[0])) {
                m_pdu[1] = static_cast<BYTE>(m_pdu[1] + fault.ValueOr(1));
            }
            break;
        case Kind::WrongUnit:
            m_unit = static_cast<BYTE>(fault.ValueOr(static_cast<BYTE>(m_unit + 1)));
            break;
        case Kind::WrongFunction:
            if (!m_pdu.empty()) {
                m_pdu[0] = static_cast<BYTE>(
                    fault.ValueOr(static_cast<BYTE>(byRequestFunction % 127 + 1)));
            }
            break;
        case Kind::ExtraBytes:
            m_after = !fault.m_extra.empty() ? fault.m_extra : CByteArray(fault.m_dwValue, JUNK);
            break;
        case Kind::Garbage:
            if (bSerial) {
                m_before.assign(fault.m_dwValue, JUNK);
            }
            break;
        case Kind::BadCrc:
            m_bBadChecksum = bSerial;
            break;
        case Kind::SplitHeader:
            m_pace = EPace::SPLIT_HEADER;
            m_nPaceMillis = static_cast<int>(fault.ValueOr(DEFAULT_SPLIT_MS));
            break;
        case Kind::ByteByByte:
            m_pace = EPace::BYTE_BY_BYTE;
            m_nPaceMillis = static_cast<int>(fault.ValueOr(DEFAULT_BYTE_MS));
            break;
        case Kind::Gap:
            if (bSerial) {
                m_pace = EPace::GAP;
                m_nPaceMillis = static_cast<int>(fault.m_dwValue);
            }
            break;
        case Kind::Exception:
        case Kind::Close:
        case Kind::NoAnswer:
            break;
    }
}

CString CSimAnswer::Describe(ULONGLONG nRequest, BYTE unit, BYTE byFunction,
                             const CSimFaultRule* pFault) {
    char szText[80];
    std::snprintf(szText, sizeof szText, "request %llu: unit %u function %u",
                  static_cast<unsigned long long>(nRequest), unit, byFunction);
    return szText + (pFault != nullptr ? ", fault " + CSimFaults::Describe(*pFault) : CString());
}

CByteArray CSimAnswer::RtuFrame() const {
    CByteArray adu{m_unit};
    adu.insert(adu.end(), m_pdu.begin(), m_pdu.end());
    CByteArray frame = CRtuFrame::Encode(adu.data(), adu.size());
    if (m_bBadChecksum) {
        frame.back() ^= 0xFF;
    }
    return frame;
}

bool CSimAnswer::Send(const CByteArray& framed, const Write& write, const Wait& wait) const {
    if (m_nDelayMillis > 0 && !wait(m_nDelayMillis)) {
        return false;
    }
    CByteArray out = m_before;
    out.insert(out.end(), framed.begin(), framed.end());
    out.insert(out.end(), m_after.begin(), m_after.end());
    switch (m_pace) {
        case EPace::AT_ONCE:
            break;
        case EPace::GAP: {
            const size_t nHalf = out.size() / 2;
            return write(out.data(), nHalf) && wait(m_nPaceMillis) &&
                   write(out.data() + nHalf, out.size() - nHalf);
        }
        case EPace::SPLIT_HEADER:
            if (out.size() <= SPLIT_SECOND) {
                break;
            }
            return write(out.data(), SPLIT_FIRST) && wait(m_nPaceMillis) &&
                   write(out.data() + SPLIT_FIRST, SPLIT_SECOND - SPLIT_FIRST) &&
                   wait(m_nPaceMillis) &&
                   write(out.data() + SPLIT_SECOND, out.size() - SPLIT_SECOND);
        case EPace::BYTE_BY_BYTE:
            for (size_t i = 0; i < out.size(); ++i) {
                if ((i > 0 && !wait(m_nPaceMillis)) || !write(&out[i], 1)) {
                    return false;
                }
            }
            return true;
    }
    return write(out.data(), out.size());
}
