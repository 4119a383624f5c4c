// Blocking TCP client sockets with bounded waits, and the socket helpers.
// Every failure is thrown as a CBlockingSocketException pointer naming the
// failed operation; the catcher deletes it.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>

#include "platform/Object.h"

using SOCKET = int;
using SOCKADDR_IN = sockaddr_in;
using SOCKADDR = sockaddr;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

class CBlockingSocketException : public CException {
    DECLARE_DYNAMIC(CBlockingSocketException)

public:
    // Captures the socket error (errno) of this moment.
    explicit CBlockingSocketException(const char* pchMessage);
    CBlockingSocketException(const char* pchMessage, int nSocketError)
        : m_nSocketError(nSocketError), m_strOperation(pchMessage) {}

    // "<operation> error #<code>", or "<operation> error" for code 0.
    BOOL GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) override;

    int m_nSocketError;
    CString m_strOperation;
};

// Time-outs are in milliseconds. A wait of 0 or less is an immediate check:
// no call ever waits without limit.
class CBlockingSocket : public CObject {
    DECLARE_DYNAMIC(CBlockingSocket)

public:
    using Clock = std::chrono::steady_clock;

    CBlockingSocket() = default;
    // The owner closes the socket; the destructor does not.
    ~CBlockingSocket() override = default;

    void Create(int nType = SOCK_STREAM);
    // Connects, waiting at most nMillis for the peer to accept.
    void Connect(const SOCKADDR_IN& sa, int nMillis);
    // Sends every frame at once instead of holding small ones back while an
    // earlier one is unacknowledged.
    void SetNoDelay();
    // One send; returns how many bytes it took.
    int Send(const char* pch, int nSize, int nMillis);
    int Send(const char* pch, int nSize, Clock::time_point deadline);
    // Sends everything; returns nSize unless an exception ends it.
    int SendAll(const char* pch, int nSize, int nMillis);
    int SendAll(const char* pch, int nSize, Clock::time_point deadline);
    // One receive of up to nSize bytes; returns 0 when the peer has closed.
    int Receive(char* pch, int nSize, int nMillis);
    int Receive(char* pch, int nSize, Clock::time_point deadline);
    void GetSockName(SOCKADDR_IN& sa);
    void Close();
    void CloseQuietly();

    SOCKET m_hSocket = INVALID_SOCKET;

private:
    // The kernel's send and receive time-outs of the socket, set only when the
    // wanted value differs from the one in force.
    void SetTimeout(int nOption, int nMillis, int& nCurrent);
    // One send or one receive by the deadline, through io(flags); what
    // differs between the two directions.
    struct SDirection {
        int nOption;
        int CBlockingSocket::*pnTimeout;
        int nFlags;
        const char* pszFailed;
        const char* pszTimedOut;
    };
    template <typename Io>
    int Bounded(Clock::time_point deadline, const SDirection& direction, Io io);

    int m_nSendTimeout = -1;
    int m_nReceiveTimeout = -1;
};

// Resolves an IPv4 address of the host; throws "GetHostByName" when none.
SOCKADDR_IN GetHostByName(const char* pchName, USHORT ushPort = 0);
// This machine's host name, "127.0.0.1" when it cannot be read.
CString GetLocalHostName();
// This machine's dotted IPv4 address; throws as GetHostByName does.
CString GetLocalAddress();
CString AddressToText(const SOCKADDR_IN& sa);
// TRUE when code is a failure and the system has a text for it, which the
// buffer then holds without the trailing line end.
BOOL GetFailureText(HRESULT code, char* pchBuffer, UINT nSize);
