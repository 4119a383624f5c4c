// The Modbus/TCP master: each request goes out behind the 6-byte Modbus/TCP
// header on a TCP connection to the server, one request outstanding at a time.
// The other masters that reach a device by host and port (RTU frames over
// TCP, Modbus/UDP, Modbus/TCP inside TLS) derive from it and replace the
// framing or the stream under it; the lock, the deadline, reconnection, the
// capture and the record's common part stay here.
#pragma once

#include "BlockingSocket.h"
#include "core/Modbus.h"

enum : WORD {
    REMOTE_BUFFER_OVERFLOW = 1000,
    REMOTE_SOCKET_ERROR = 1001,
    REMOTE_WRITE_ERROR = 1002,
    REMOTE_READ_ERROR = 1003,
    REMOTE_NOT_CONNECTED = 1004,
};

class CRemoteModbus : public CModbus {
    DECLARE_DYNAMIC(CRemoteModbus)

public:
    static constexpr DWORD DEFAULT_TIMEOUT = 10000;
    static constexpr size_t BUFFER_SIZE = 1024;
    static constexpr size_t HEADER_SIZE = 6;

    CRemoteModbus();
    ~CRemoteModbus() override;

    // Stores the settings, then connects with them.
    void Serialize(CArchive& ar) override;
    void WriteSettings(CArchive& ar) override;
    void Load(CArchive& ar, ELoad mode) override;
    WORD Transact(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                  DWORD dwResponseLength, BOOL bFlag) override;
    CString GetErrorText(WORD wStatus) override;
    BOOL IsConnected() override;
    BOOL LastExchangeTimedOut() override;

    // An empty host, a port of 0 or a time-out of 0 takes the stored value.
    BOOL Connect(const CString& strHost, WORD nPort, DWORD dwTimeout);
    BOOL Disconnect();
    // Why the last connection, or exchange on a connection, failed, as the
    // user reads it: "host:port: connection refused", "host:port: no answer
    // within 3000 ms", "host: host name not found". Empty once a connection
    // has been made since.
    CString GetLastCause();

    void SetHost(const CString& strHost) { m_strHost = strHost; }
    CString GetHost() const { return m_strHost; }
    void SetPort(WORD nPort) { m_nPort = nPort; }
    WORD GetPort() const { return m_nPort; }
    void SetTimeout(DWORD dwTimeout) { m_dwTimeout = dwTimeout; }
    DWORD GetTimeout() const { return m_dwTimeout; }
    void SetReconnect(BOOL bReconnect) { m_bReconnect = bReconnect; }
    BOOL GetReconnect() const { return m_bReconnect; }

    BOOL m_bReconnect = FALSE;
    CString m_strHost;
    WORD m_nPort = 502;
    DWORD m_dwTimeout = DEFAULT_TIMEOUT;
    BOOL m_bMapServerErrors = TRUE;
    BYTE m_byServerErrorBase = 0x80;
    SOCKADDR_IN m_addrPeer;
    // Kept for the record's layout; nothing reads it, so a connection does not
    // spend a system call on filling it.
    SOCKADDR_IN m_addrLocal;
    CBlockingSocket m_socket;
    CByteArray m_rxBuffer;
    CByteArray m_txBuffer;

    // Gives this master the connection that another master of the same kind
    // made (the connection dialogs connect on a master of their own); the
    // caller holds both locks or owns from.
    virtual void AdoptConnection(CRemoteModbus& from);

protected:
    // The framing. Frames the request (device address and PDU) into
    // m_txBuffer and returns the frame's length.
    virtual size_t FrameRequest(const CByteArray& request, DWORD dwRequestLength);
    // The bytes the framing adds to a PDU and its device address, at most.
    virtual size_t FramingBytes() const { return HEADER_SIZE; }
    // Receives the answer to the frame just sent into m_rxBuffer and returns
    // its length, or 0 when the peer closed first. Failures are thrown as
    // CBlockingSocketException pointers; a time-out is one marked timed out.
    virtual size_t ReceiveAnswer(const CDeadline& deadline);
    // The status and the response (device address and PDU) from the nAnswer
    // bytes in m_rxBuffer.
    virtual WORD TakeAnswer(size_t nAnswer, CByteArray& response);
    // How the traffic window names this master's exchanges: "tcp host:port".
    virtual CString TrafficLabel() const;

    // The stream under the framing; each throws a CBlockingSocketException
    // pointer on failure. A kept stream is open by the deadline; one for a
    // single exchange may only be begun, its first send finishing it.
    virtual void OpenStream(const SOCKADDR_IN& sa, const CDeadline& deadline, BOOL bKept);
    virtual int SendFrame(const BYTE* pb, int n, const CDeadline& deadline);
    // One receive of up to n bytes; 0 when the peer has closed.
    virtual int ReceiveSome(BYTE* pb, int n, const CDeadline& deadline);
    // Closes the stream without reporting failures; safe when none is open.
    virtual void CloseStream();

    // Takes a status and the response from the device address and PDU at
    // pb: an exception answer becomes its status (or a mapped server error).
    WORD TakeUnitAnswer(const BYTE* pb, size_t n, CByteArray& response) const;
    // Ends the connection after a failure: the next exchange answers 1004.
    void DropConnection();
    // The time-out in force: a stored 0 means the default.
    int EffectiveTimeout() const;

private:
    // Keeps what e says of the failure as m_strCause; the caller holds m_lock.
    void NoteFailure(const CBlockingSocketException& e);
    // Now plus the time-out in force.
    CDeadline Deadline() const;
    // Opens a socket to the stored host and port; the caller holds m_lock.
    // A kept connection is made by the deadline; one for a single exchange
    // is only begun, and its send finishes the handshake.
    BOOL OpenSocket(const CDeadline& deadline, BOOL bKept);
    SOCKADDR_IN AddressOf(const CString& strHost, WORD nPort) const;
    // Reads and drops bytes until nTaken reaches nFrame.
    void Discard(size_t nTaken, size_t nFrame, const CDeadline& deadline);
    // Transact's work under the lock; *pnFrame and *pnAnswer: the bytes of
    // the frame sent and of the answer received, 0 when none.
    WORD TransactLocked(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                        DWORD dwResponseLength, size_t* pnFrame, size_t* pnAnswer);
    // Sends the framed request and receives the answer, its length in
    // *pnAnswer (0: the peer closed).
    WORD Exchange(size_t nFrame, const CDeadline& deadline, size_t* pnAnswer);

    CString m_strCause;  // under m_lock
};
