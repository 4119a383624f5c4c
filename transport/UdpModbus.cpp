#include "UdpModbus.h"

#include <algorithm>
#include <cerrno>

#include "core/FunctionCodes.h"

IMPLEMENT_DYNAMIC(CUdpModbus, CRemoteModbus)

CUdpModbus::~CUdpModbus() {
    m_bKeepSocket = false;
    CloseStream();
}

BOOL CUdpModbus::IsConnected() {
    return m_socket.m_hSocket != INVALID_SOCKET;
}

CString CUdpModbus::TrafficLabel() const {
    return "udp " + m_strHost + ":" + std::to_string(m_nPort);
}

void CUdpModbus::AdoptConnection(CRemoteModbus& from) {
    CRemoteModbus::AdoptConnection(from);
    // Transaction ids go on from the other master's, so that an answer still
    // on its way to it is not taken for one of ours.
    if (auto* pFrom = dynamic_cast<CUdpModbus*>(&from)) {
        m_wTransaction = pFrom->m_wTransaction;
    }
}

void CUdpModbus::OpenStream(const SOCKADDR_IN& sa, const CDeadline& deadline, BOOL) {
    // Connecting a datagram socket only fixes its peer: it returns at once.
    m_socket.Create(SOCK_DGRAM);
    m_socket.Connect(sa, deadline);
}

void CUdpModbus::CloseStream() {
    if (m_bKeepSocket) {
        m_bKeepSocket = false;
        return;
    }
    CRemoteModbus::CloseStream();
}

size_t CUdpModbus::FrameRequest(const CByteArray& request, DWORD dwRequestLength) {
    const size_t nFrame = CRemoteModbus::FrameRequest(request, dwRequestLength);
    ++m_wTransaction;
    m_txBuffer[0] = HIBYTE(m_wTransaction);
    m_txBuffer[1] = LOBYTE(m_wTransaction);
    m_byUnit = dwRequestLength >= 1 ? request[0] : 0;
    m_byFunction = dwRequestLength >= 2 ? request[1] : 0;
    return nFrame;
}

bool CUdpModbus::Answers(size_t n) const {
    const BYTE* pb = m_rxBuffer.data();
    if (n < HEADER_SIZE + 2) {
        return false;
    }
    const BYTE byFunction = pb[HEADER_SIZE + 1] & BYTE(~ModbusFunction::EXCEPTION_FLAG);
    return MAKEWORD(pb[1], pb[0]) == m_wTransaction && pb[2] == 0 && pb[3] == 0 &&
           pb[HEADER_SIZE] == m_byUnit && byFunction == m_byFunction;
}

void CUdpModbus::KeepSocketThrough(const CBlockingSocketException& e) {
    // An ICMP refusal is reported once, by the next send or receive; the
    // socket serves on.
    m_bKeepSocket = e.m_bTimedOut || e.m_nSocketError == ECONNREFUSED;
}

int CUdpModbus::SendFrame(const BYTE* pb, int n, const CDeadline& deadline) {
    try {
        return CRemoteModbus::SendFrame(pb, n, deadline);
    } catch (CBlockingSocketException* e) {
        KeepSocketThrough(*e);
        throw;
    }
}

size_t CUdpModbus::ReceiveAnswer(const CDeadline& deadline) {
    for (;;) {
        int n = 0;
        try {
            n = ReceiveSome(m_rxBuffer.data(), static_cast<int>(BUFFER_SIZE), deadline);
        } catch (CBlockingSocketException* e) {
            // Nothing broke: the next request goes out on the same socket.
            KeepSocketThrough(*e);
            throw;
        }
        if (Answers(size_t(n))) {
            // The frame as its length field gives it, within the datagram.
            const size_t nLength = (size_t(m_rxBuffer[4]) << 8) | m_rxBuffer[5];
            return HEADER_SIZE + std::min(nLength, size_t(n) - HEADER_SIZE);
        }
    }
}
