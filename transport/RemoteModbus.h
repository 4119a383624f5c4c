// The Modbus/TCP master: each request goes out behind the 6-byte Modbus/TCP
// header on a TCP connection to the server, one request outstanding at a time.
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

    void Serialize(CArchive& ar) override;
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

private:
    // The time-out in force: a stored 0 means the default.
    int EffectiveTimeout() const;
    // Keeps what e says of the failure as m_strCause; the caller holds m_lock.
    void NoteFailure(const CBlockingSocketException& e);
    // Now plus the time-out in force.
    CDeadline Deadline() const;
    // Opens a socket to the stored host and port; the caller holds m_lock.
    // A kept connection is made by the deadline; one for a single exchange
    // is only begun, and its send finishes the handshake.
    BOOL OpenSocket(const CDeadline& deadline, BOOL bKept);
    SOCKADDR_IN AddressOf(const CString& strHost, WORD nPort) const;
    // Receives until the whole answer (header and the bytes its length's low
    // byte announces) is in m_rxBuffer, then takes the rest of the frame off
    // the connection; returns the answer's length, or 0 when the peer closed
    // first.
    size_t ReceiveAnswer(const CDeadline& deadline);
    // Reads and drops bytes until nTaken reaches nFrame.
    void Discard(size_t nTaken, size_t nFrame, const CDeadline& deadline);
    void DropConnection();
    // The three steps of an exchange: the request framed into m_txBuffer;
    // the frame sent
    // and the answer received, its length in *pnAnswer (0: the peer closed);
    // the answer taken apart into a status and the response.
    // Transact's work under the lock; *pnFrame and *pnAnswer: the bytes of
    // the frame sent and of the answer received, 0 when none.
    WORD TransactLocked(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                        DWORD dwResponseLength, size_t* pnFrame, size_t* pnAnswer);
    void FrameRequest(const CByteArray& request, DWORD dwRequestLength);
    WORD Exchange(DWORD dwRequestLength, const CDeadline& deadline, size_t* pnAnswer);
    WORD TakeAnswer(size_t nAnswer, CByteArray& response);

    CString m_strCause;  // under m_lock
};
