// The Modbus/UDP master: one Modbus/TCP frame (header, device address, PDU)
// per datagram, on a UDP socket connected to the device so that the system
// drops datagrams from any other address or port. Each request carries a
// transaction id of its own; a datagram whose transaction id, device address
// or function does not match the request outstanding is dropped and the wait
// goes on, so a late answer to an earlier request never passes for this one.
// A missing answer, or a refusal (the device's system answering that nothing
// listens on the port), leaves the socket as it is: a retry resends on it,
// and polling goes on by itself once the device is up.
#pragma once

#include "RemoteModbus.h"

class CUdpModbus : public CRemoteModbus {
    DECLARE_DYNAMIC(CUdpModbus)

public:
    CUdpModbus() = default;
    ~CUdpModbus() override;

    // Open while its socket is: a datagram socket has no connection that a
    // missing answer could break.
    BOOL IsConnected() override;
    void AdoptConnection(CRemoteModbus& from) override;

    // The transaction id of the request sent last.
    WORD GetTransactionId() const { return m_wTransaction; }

protected:
    size_t FrameRequest(const CByteArray& request, DWORD dwRequestLength) override;
    int SendFrame(const BYTE* pb, int n, const CDeadline& deadline) override;
    size_t ReceiveAnswer(const CDeadline& deadline) override;
    CString TrafficLabel() const override;
    void OpenStream(const SOCKADDR_IN& sa, const CDeadline& deadline, BOOL bKept) override;
    void CloseStream() override;

private:
    // Whether the n bytes of a datagram in m_rxBuffer answer the request
    // outstanding.
    bool Answers(size_t n) const;
    // Keeps the socket through the failure e is about to report, when it
    // leaves the socket usable.
    void KeepSocketThrough(const CBlockingSocketException& e);

    WORD m_wTransaction = 0;
    BYTE m_byUnit = 0;
    BYTE m_byFunction = 0;
    // Set while a time-out or refusal is thrown: the base closes the stream
    // after any failure, but this one stays usable.
    bool m_bKeepSocket = false;
};
