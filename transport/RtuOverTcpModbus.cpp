#include "RtuOverTcpModbus.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "wire/FrameLength.h"
#include "wire/RtuFrame.h"

IMPLEMENT_DYNAMIC(CRtuOverTcpModbus, CRemoteModbus)

CRtuOverTcpModbus::~CRtuOverTcpModbus() {
    m_bKeepSocket = false;
    CloseStream();
}

BOOL CRtuOverTcpModbus::IsConnected() {
    return m_socket.m_hSocket != INVALID_SOCKET;
}

void CRtuOverTcpModbus::CloseStream() {
    if (m_bKeepSocket) {
        m_bKeepSocket = false;
        return;
    }
    CRemoteModbus::CloseStream();
}

CString CRtuOverTcpModbus::TrafficLabel() const {
    return "rtu-over-tcp " + m_strHost + ":" + std::to_string(m_nPort);
}

void CRtuOverTcpModbus::AdoptConnection(CRemoteModbus& from) {
    CRemoteModbus::AdoptConnection(from);
    auto* pFrom = dynamic_cast<CRtuOverTcpModbus*>(&from);
    m_bDiscardPending = pFrom != nullptr && pFrom->m_bDiscardPending;
}

void CRtuOverTcpModbus::OpenStream(const SOCKADDR_IN& sa, const CDeadline& deadline, BOOL bKept) {
    // A new connection carries nothing of an earlier answer.
    m_bDiscardPending = false;
    CRemoteModbus::OpenStream(sa, deadline, bKept);
}

size_t CRtuOverTcpModbus::FrameRequest(const CByteArray& request, DWORD dwRequestLength) {
    std::copy_n(request.begin(), dwRequestLength, m_txBuffer.begin());
    const WORD wCrc = CRtuFrame::Crc16(m_txBuffer.data(), dwRequestLength);
    m_txBuffer[dwRequestLength] = LOBYTE(wCrc);
    m_txBuffer[dwRequestLength + 1] = HIBYTE(wCrc);
    m_byFunction = dwRequestLength >= 2 ? request[1] : 0;
    m_nRequestPdu = dwRequestLength >= 1 ? dwRequestLength - 1 : 0;
    return dwRequestLength + CRC_SIZE;
}

int CRtuOverTcpModbus::SendFrame(const BYTE* pb, int n, const CDeadline& deadline) {
    if (m_bDiscardPending) {
        DiscardPending();
    }
    return CRemoteModbus::SendFrame(pb, n, deadline);
}

void CRtuOverTcpModbus::DiscardPending() {
    m_bDiscardPending = false;
    // Bounded: a device that streams without pause cannot hold the exchange.
    BYTE scratch[512];
    for (int i = 0; i < 64; ++i) {
        if (::recv(m_socket.m_hSocket, scratch, sizeof scratch, MSG_DONTWAIT) <= 0) {
            return;
        }
    }
}

size_t CRtuOverTcpModbus::ReceiveAnswer(const CDeadline& deadline) {
    BYTE* const buf = m_rxBuffer.data();
    size_t nGot = 0;
    size_t nFrame = 0;  // address, PDU and CRC, once the function tells
    m_bCut = false;
    while (nFrame == 0 || nGot < nFrame) {
        if (nFrame == 0 && nGot >= 2) {
            const long nPdu = CFrameLength::Answer(m_byFunction, m_nRequestPdu, buf + 1, nGot - 1);
            if (nPdu == CFrameLength::UNKNOWN) {
                return ReceiveUntilQuiet(nGot, deadline);
            }
            if (nPdu > 0) {
                nFrame = 1 + size_t(nPdu) + CRC_SIZE;
                continue;
            }
        }
        int n = 0;
        try {
            n = ReceiveSome(buf + nGot, static_cast<int>(BUFFER_SIZE - nGot), deadline);
        } catch (CBlockingSocketException* e) {
            if (!e->m_bTimedOut) {
                throw;
            }
            if (nGot == 0) {
                // No answer: reported as such, on a connection that stays,
                // and one that comes late goes before the next request.
                m_bKeepSocket = true;
                m_bDiscardPending = true;
                throw;
            }
            // The answer began but never ended. The connection itself is
            // sound; the rest, if it comes late, is dropped before the next
            // request.
            e->Delete();
            m_bCut = true;
            m_bDiscardPending = true;
            return nGot;
        }
        if (n == 0) {
            return 0;
        }
        nGot += size_t(n);
    }
    // Bytes beyond the answer answer no request: one is outstanding at a time.
    m_bDiscardPending = nGot > nFrame;
    return nFrame;
}

size_t CRtuOverTcpModbus::ReceiveUntilQuiet(size_t nGot, const CDeadline& deadline) {
    // Nothing marks the end of such an answer but the pause after it, as on
    // a serial line; a TCP stream has no character times, so the pause is a
    // fixed one that no converter's packing comes near, cut short by the
    // deadline. What follows it is dropped before the next request.
    BYTE* const buf = m_rxBuffer.data();
    while (nGot < BUFFER_SIZE) {
        const CDeadline quiet = std::min(deadline, CDeadline::AfterMillis(QUIET_GAP_MS));
        int n = 0;
        try {
            n = ReceiveSome(buf + nGot, static_cast<int>(BUFFER_SIZE - nGot), quiet);
        } catch (CBlockingSocketException* e) {
            if (!e->m_bTimedOut) {
                throw;
            }
            e->Delete();
            break;
        }
        if (n == 0) {
            return 0;
        }
        nGot += size_t(n);
    }
    m_bDiscardPending = true;
    return nGot;
}

WORD CRtuOverTcpModbus::TakeAnswer(size_t nAnswer, CByteArray& response) {
    const BYTE* pb = m_rxBuffer.data();
    // A cut answer fails as one with a wrong CRC does on a serial line.
    if (m_bCut || nAnswer < 2 + CRC_SIZE ||
        CRtuFrame::Crc16(pb, nAnswer - CRC_SIZE) !=
            MAKEWORD(pb[nAnswer - CRC_SIZE], pb[nAnswer - 1])) {
        m_bDiscardPending = true;
        return MODBUS_CRC_ERROR;
    }
    return TakeUnitAnswer(pb, nAnswer - CRC_SIZE, response);
}
