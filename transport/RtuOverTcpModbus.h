// The master of RTU frames carried over TCP, as serial-to-Ethernet converters
// and many gateways pass them: the device address, the PDU and the CRC-16 (low
// byte first), with no header. An answer ends where its function's length
// rules say (the tables the serial side uses), bounded by the exchange's
// deadline. Nothing of a broken answer is left for the next exchange to read.
// A device that stays silent leaves the connection open, as a converter does
// for a device that is not on its line.
#pragma once

#include "RemoteModbus.h"

class CRtuOverTcpModbus : public CRemoteModbus {
    DECLARE_DYNAMIC(CRtuOverTcpModbus)

public:
    static constexpr size_t CRC_SIZE = 2;
    // How long an answer whose function gives no length may pause before it
    // is taken as ended, within the exchange's deadline.
    static constexpr int QUIET_GAP_MS = 50;

    CRtuOverTcpModbus() = default;
    ~CRtuOverTcpModbus() override;

    // Open while its socket is: a silent device does not end the connection.
    BOOL IsConnected() override;
    void AdoptConnection(CRemoteModbus& from) override;

protected:
    size_t FrameRequest(const CByteArray& request, DWORD dwRequestLength) override;
    size_t FramingBytes() const override { return CRC_SIZE; }
    size_t ReceiveAnswer(const CDeadline& deadline) override;
    WORD TakeAnswer(size_t nAnswer, CByteArray& response) override;
    CString TrafficLabel() const override;
    void OpenStream(const SOCKADDR_IN& sa, const CDeadline& deadline, BOOL bKept) override;
    int SendFrame(const BYTE* pb, int n, const CDeadline& deadline) override;
    void CloseStream() override;

private:
    // Receives until nothing more comes for QUIET_GAP_MS or the deadline
    // passes; the bytes of the answer so far, nGot of them, are kept.
    size_t ReceiveUntilQuiet(size_t nGot, const CDeadline& deadline);
    // Drops whatever a broken answer left in the stream.
    void DiscardPending();

    // The request the answer is awaited for: diagnostics echo it.
    BYTE m_byFunction = 0;
    size_t m_nRequestPdu = 0;
    // The answer just received stopped before its length.
    bool m_bCut = false;
    // A broken or overlong answer may have left bytes in the stream.
    bool m_bDiscardPending = false;
    // Set while a time-out is thrown: the base closes the stream after any
    // failure, but this one stays usable.
    bool m_bKeepSocket = false;
};
