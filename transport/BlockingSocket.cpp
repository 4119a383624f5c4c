#include "BlockingSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/FormatMessage.h"

IMPLEMENT_DYNAMIC(CBlockingSocketException, CException)
IMPLEMENT_DYNAMIC(CBlockingSocket, CObject)

CBlockingSocketException::CBlockingSocketException(const char* pchMessage)
    : m_nSocketError(errno), m_strOperation(pchMessage) {}

BOOL CBlockingSocketException::GetErrorMessage(char* lpszError, UINT nMaxError, UINT*) {
    char text[200];
    if (m_nSocketError != 0) {
        std::snprintf(text, sizeof text, "%s error #%d", m_strOperation.c_str(), m_nSocketError);
    } else {
        std::snprintf(text, sizeof text, "%s error", m_strOperation.c_str());
    }
    AfxCopyErrorMessage(text, lpszError, nMaxError);
    return TRUE;
}

CBlockingSocketException* CBlockingSocketException::TimedOut(const char* pchMessage) {
    auto* e = new CBlockingSocketException(pchMessage, 0);
    e->m_bTimedOut = true;
    return e;
}

namespace {
// What the kernel's socket time-outs may end late by: up to an eighth of the
// time on its timer wheel, plus a tick or two.
constexpr long long kKernelTimerMargin = 20;

bool WouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINPROGRESS;
}
}  // namespace

void CBlockingSocket::Create(int nType) {
    m_hSocket = ::socket(AF_INET, nType | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    m_nSendTimeout = -1;
    m_nReceiveTimeout = -1;
    m_bBlocking = false;
    m_bConnecting = false;
    if (m_hSocket == INVALID_SOCKET) {
        throw new CBlockingSocketException("Create");
    }
}

void CBlockingSocket::StartConnect(const SOCKADDR_IN& sa) {
    if (::connect(m_hSocket, reinterpret_cast<const SOCKADDR*>(&sa), sizeof sa) == 0) {
        m_bConnecting = false;
        return;
    }
    // Interrupted, a non-blocking connection goes on as if it had just begun.
    if (errno != EINPROGRESS && errno != EINTR) {
        throw new CBlockingSocketException("Connect");
    }
    m_bConnecting = true;
}

void CBlockingSocket::Connect(const SOCKADDR_IN& sa, int nMillis) {
    Connect(sa, CDeadline::AfterMillis(nMillis > 0 ? nMillis : 1));
}

void CBlockingSocket::Connect(const SOCKADDR_IN& sa, const CDeadline& deadline) {
    StartConnect(sa);
    if (m_bConnecting) {
        const int nReady = WaitUntil(m_hSocket, POLLOUT, deadline);
        int err = nReady == 0 ? ETIMEDOUT : nReady < 0 ? errno : 0;
        socklen_t len = sizeof err;
        if (nReady > 0 && ::getsockopt(m_hSocket, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
            err = errno;
        }
        if (err != 0) {
            throw new CBlockingSocketException("Connect", err);
        }
        m_bConnecting = false;
    }
    SetBlocking();
}

void CBlockingSocket::SetBlocking() {
    const int flags = ::fcntl(m_hSocket, F_GETFL);
    if (flags < 0 || ::fcntl(m_hSocket, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        throw new CBlockingSocketException("Connect");
    }
    m_bBlocking = true;
}

void CBlockingSocket::SetNoDelay() {
    int one = 1;
    ::setsockopt(m_hSocket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool CBlockingSocket::SetKernelTimeout(const SDirection& direction, const CDeadline& deadline) {
    return ::SetKernelTimeout(m_hSocket, direction.nOption, this->*direction.pnTimeout, deadline);
}

bool SetKernelTimeout(SOCKET hSocket, int nOption, int& nCurrent, const CDeadline& deadline) {
    const long long nLeft = std::min<long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline.Left()).count(), INT_MAX);
    const long long nWanted = nLeft - nLeft / 8 - kKernelTimerMargin;
    if (nWanted <= 0) {
        return false;
    }
    // A time-out in force that ends a little earlier still serves: the rest
    // is waited for exactly. Keeping it saves a system call per exchange.
    if (nCurrent > 0 && nCurrent <= nWanted && nCurrent >= nWanted - nWanted / 4) {
        return true;
    }
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(nWanted / 1000);
    tv.tv_usec = static_cast<suseconds_t>((nWanted % 1000) * 1000);
    if (::setsockopt(hSocket, SOL_SOCKET, nOption, &tv, sizeof tv) != 0) {
        nCurrent = -1;
        return false;
    }
    nCurrent = static_cast<int>(nWanted);
    return true;
}

template <typename Io>
int CBlockingSocket::Bounded(const CDeadline& deadline, const SDirection& direction, Io io) {
    // A receive on a non-blocking socket waits first: it carries one
    // exchange, and the answer cannot be there before the request has gone.
    bool bWait = !m_bBlocking && direction.nEvents == POLLIN;
    for (;;) {
        if (bWait) {
            const int nReady = WaitUntil(m_hSocket, direction.nEvents, deadline);
            if (nReady == 0) {
                throw CBlockingSocketException::TimedOut(direction.pszTimedOut);
            }
            if (nReady < 0) {
                throw new CBlockingSocketException(direction.pszFailed);
            }
        }
        int flags = direction.nFlags;
        if (!m_bBlocking || !SetKernelTimeout(direction, deadline)) {
            flags |= MSG_DONTWAIT;
        }
        const ssize_t n = io(flags);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (!WouldBlock(errno) && errno != EINTR) {
            throw new CBlockingSocketException(direction.pszFailed);
        }
        bWait = errno != EINTR;
    }
}

int CBlockingSocket::Send(const char* pch, int nSize, int nMillis) {
    return Send(pch, nSize, CDeadline::AfterMillis(nMillis));
}

int CBlockingSocket::Send(const char* pch, int nSize, const CDeadline& deadline) {
    static const SDirection kSend{SO_SNDTIMEO,  &CBlockingSocket::m_nSendTimeout,
                                  MSG_NOSIGNAL, POLLOUT,
                                  "Send",       "Send timeout"};
    const int n = Bounded(deadline, kSend, [&](int flags) {
        return ::send(m_hSocket, pch, static_cast<size_t>(nSize), flags);
    });
    // Bytes went out: the handshake is done.
    m_bConnecting = false;
    return n;
}

int CBlockingSocket::SendAll(const char* pch, int nSize, int nMillis) {
    return SendAll(pch, nSize, CDeadline::AfterMillis(nMillis));
}

int CBlockingSocket::SendAll(const char* pch, int nSize, const CDeadline& deadline) {
    int nSent = Send(pch, nSize, deadline);
    while (nSent < nSize) {
        nSent += Send(pch + nSent, nSize - nSent, deadline);
    }
    return nSent;
}

int CBlockingSocket::Receive(char* pch, int nSize, int nMillis) {
    return Receive(pch, nSize, CDeadline::AfterMillis(nMillis));
}

int CBlockingSocket::Receive(char* pch, int nSize, const CDeadline& deadline) {
    static const SDirection kReceive{
        SO_RCVTIMEO, &CBlockingSocket::m_nReceiveTimeout, 0, POLLIN, "Receive", "Receive timeout"};
    return Bounded(deadline, kReceive, [&](int flags) {
        return ::recv(m_hSocket, pch, static_cast<size_t>(nSize), flags);
    });
}

void CBlockingSocket::GetSockName(SOCKADDR_IN& sa) {
    socklen_t len = sizeof sa;
    if (::getsockname(m_hSocket, reinterpret_cast<SOCKADDR*>(&sa), &len) == SOCKET_ERROR) {
        throw new CBlockingSocketException("GetSockName");
    }
}

void CBlockingSocket::Close() {
    if (m_hSocket == INVALID_SOCKET) {
        errno = EBADF;
        throw new CBlockingSocketException("Close");
    }
    SOCKET s = m_hSocket;
    m_hSocket = INVALID_SOCKET;
    m_bConnecting = false;
    // The descriptor is released even when close reports an error; retrying
    // would risk closing a descriptor that another thread just received.
    if (::close(s) == SOCKET_ERROR && errno != EINTR) {
        throw new CBlockingSocketException("Close");
    }
}

void CBlockingSocket::CloseQuietly() {
    m_bConnecting = false;
    if (m_hSocket != INVALID_SOCKET) {
        ::close(m_hSocket);
        m_hSocket = INVALID_SOCKET;
    }
}

SOCKADDR_IN GetHostByName(const char* pchName, USHORT ushPort) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(pchName, nullptr, &hints, &result);
    if (rc != 0 || result == nullptr) {
        auto* e = new CBlockingSocketException("GetHostByName", rc == EAI_SYSTEM ? errno : rc);
        e->m_bLookup = true;
        throw e;
    }
    SOCKADDR_IN sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(ushPort);
    sa.sin_addr = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr;
    ::freeaddrinfo(result);
    return sa;
}

CString GetLocalHostName() {
    char name[256];
    if (::gethostname(name, sizeof name) != 0) {
        return "127.0.0.1";
    }
    name[sizeof name - 1] = '\0';
    return name;
}

CString GetLocalAddress() {
    SOCKADDR_IN sa = GetHostByName(GetLocalHostName().c_str(), 0);
    return AddressToText(sa);
}

CString AddressToText(const SOCKADDR_IN& sa) {
    char text[INET_ADDRSTRLEN];
    if (::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text) == nullptr) {
        return CString();
    }
    return text;
}

BOOL GetFailureText(HRESULT code, char* pchBuffer, UINT nSize) {
    if (code >= 0) {
        return FALSE;
    }
    std::memset(pchBuffer, 0, nSize);
    DWORD dwCode = static_cast<DWORD>(code);
    // A Windows error wrapped as a COM status (facility 7) is looked up as the
    // bare error; every other code, server failures of facility 8 included,
    // keeps its own text.
    if ((dwCode & 0x1FFF0000) >> 16 == 7) {
        dwCode &= 0xFFFF;
    }
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             dwCode, 0, pchBuffer, nSize, nullptr);
    if (n > 2) {
        pchBuffer[n - 1] = '\0';
        pchBuffer[n - 2] = '\0';
    }
    return n != 0 ? TRUE : FALSE;
}
