// Blocking TCP client sockets with bounded waits, and the socket helpers.
// Every failure is thrown as a CBlockingSocketException pointer naming the
// failed operation; the catcher deletes it.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>

#include "platform/Deadline.h"
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
    // A send or receive whose deadline passed ("Send timeout", "Receive
    // timeout"); nothing else is one.
    static CBlockingSocketException* TimedOut(const char* pchMessage);

    // "<operation> error #<code>", or "<operation> error" for code 0.
    BOOL GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) override;

    // errno; for a failed lookup getaddrinfo's code (negative), or errno
    // when the system failed it.
    int m_nSocketError;
    CString m_strOperation;
    bool m_bTimedOut = false;
    // The host name could not be turned into an address.
    bool m_bLookup = false;
    // What went wrong in the user's words when the error number does not
    // tell it (a refused certificate); empty otherwise.
    CString m_strDetail;
};

// Time-outs are in milliseconds or deadlines. A wait of 0 or less is an
// immediate check: no call ever waits without limit, and none ends later than
// its deadline by more than the scheduler's own delay.
//
// The descriptor is non-blocking until a connection is complete. A socket
// connected with Connect then blocks in the kernel, so that an exchange on a
// kept connection costs a send and a receive; the kernel's socket time-outs
// run on its coarse timer wheel (up to an eighth late), so they are set to
// end early and the rest is waited for exactly (WaitUntil). A socket opened
// with StartConnect stays non-blocking: it carries one exchange, and its
// first send completes the handshake.
class CBlockingSocket : public CObject {
    DECLARE_DYNAMIC(CBlockingSocket)

public:
    using Clock = std::chrono::steady_clock;

    CBlockingSocket() = default;
    // The owner closes the socket; the destructor does not.
    ~CBlockingSocket() override = default;

    void Create(int nType = SOCK_STREAM);
    // Connects, waiting at most until the deadline for the peer to accept.
    void Connect(const SOCKADDR_IN& sa, int nMillis);
    void Connect(const SOCKADDR_IN& sa, const CDeadline& deadline);
    // Starts connecting without waiting; the next send waits for the
    // handshake by its own deadline. A failure that is already known (a
    // refused connection on this machine) is thrown here.
    void StartConnect(const SOCKADDR_IN& sa);
    // True from StartConnect until a send has gone out: a failure meanwhile
    // means the connection was never made.
    bool IsConnecting() const { return m_bConnecting; }
    // Sends every frame at once instead of holding small ones back while an
    // earlier one is unacknowledged.
    void SetNoDelay();
    // One send; returns how many bytes it took.
    int Send(const char* pch, int nSize, int nMillis);
    int Send(const char* pch, int nSize, const CDeadline& deadline);
    // Sends everything; returns nSize unless an exception ends it.
    int SendAll(const char* pch, int nSize, int nMillis);
    int SendAll(const char* pch, int nSize, const CDeadline& deadline);
    // One receive of up to nSize bytes; returns 0 when the peer has closed.
    int Receive(char* pch, int nSize, int nMillis);
    int Receive(char* pch, int nSize, const CDeadline& deadline);
    void GetSockName(SOCKADDR_IN& sa);
    void Close();
    void CloseQuietly();

    SOCKET m_hSocket = INVALID_SOCKET;

private:
    // What differs between the two directions of a transfer.
    struct SDirection {
        int nOption;
        int CBlockingSocket::*pnTimeout;
        int nFlags;
        short nEvents;
        const char* pszFailed;
        const char* pszTimedOut;
    };
    // One send or one receive by the deadline, through io(flags).
    template <typename Io>
    int Bounded(const CDeadline& deadline, const SDirection& direction, Io io);
    // Sets the kernel's time-out for a blocking call so that it ends before
    // the deadline; false when too little is left for one, and the call must
    // not block.
    bool SetKernelTimeout(const SDirection& direction, const CDeadline& deadline);
    void SetBlocking();

    int m_nSendTimeout = -1;
    int m_nReceiveTimeout = -1;
    bool m_bBlocking = false;
    bool m_bConnecting = false;
};

// Sets the kernel's send or receive time-out (nOption SO_SNDTIMEO or
// SO_RCVTIMEO) of a blocking socket so that a call ends before the deadline,
// the kernel's timers being coarse; the rest is for an exact wait. nCurrent
// keeps the time-out in force (-1: unknown), and one that still serves is
// not set again. False when too little is left for a blocking call.
bool SetKernelTimeout(SOCKET hSocket, int nOption, int& nCurrent, const CDeadline& deadline);
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
