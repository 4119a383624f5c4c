#include "BlockingSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

namespace {
using Clock = CBlockingSocket::Clock;

int MillisLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Callers counting one deadline down ask for a little less at every call: a
// time-out in force within a few milliseconds of the wanted one is kept rather
// than trimmed with a system call. A send or receive that the kernel ends
// early is resumed until the caller's own deadline.
bool CloseEnough(int nCurrent, int nWanted) {
    if (nCurrent < 0) {
        return false;
    }
    const int nSlack = std::min(20, nWanted / 32);
    return std::abs(nCurrent - nWanted) <= nSlack;
}

bool WouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINPROGRESS;
}
}  // namespace

void CBlockingSocket::Create(int nType) {
    m_hSocket = ::socket(AF_INET, nType | SOCK_CLOEXEC, 0);
    m_nSendTimeout = -1;
    m_nReceiveTimeout = -1;
    if (m_hSocket == INVALID_SOCKET) {
        throw new CBlockingSocketException("Create");
    }
}

void CBlockingSocket::SetTimeout(int nOption, int nMillis, int& nCurrent) {
    if (CloseEnough(nCurrent, nMillis)) {
        return;
    }
    timeval tv{};
    tv.tv_sec = nMillis / 1000;
    tv.tv_usec = (nMillis % 1000) * 1000;
    if (::setsockopt(m_hSocket, SOL_SOCKET, nOption, &tv, sizeof tv) == 0) {
        nCurrent = nMillis;
    } else {
        nCurrent = -1;
    }
}

void CBlockingSocket::Connect(const SOCKADDR_IN& sa, int nMillis) {
    // Linux bounds a blocking connect by the send time-out.
    SetTimeout(SO_SNDTIMEO, nMillis > 0 ? nMillis : 1, m_nSendTimeout);
    int rc;
    do {
        rc = ::connect(m_hSocket, reinterpret_cast<const SOCKADDR*>(&sa), sizeof sa);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (WouldBlock(errno)) {
            errno = ETIMEDOUT;
        }
        throw new CBlockingSocketException("Connect");
    }
}

void CBlockingSocket::SetNoDelay() {
    int one = 1;
    ::setsockopt(m_hSocket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

namespace {
CBlockingSocket::Clock::time_point After(int nMillis) {
    return CBlockingSocket::Clock::now() + std::chrono::milliseconds(nMillis > 0 ? nMillis : 0);
}
}  // namespace

int CBlockingSocket::Send(const char* pch, int nSize, int nMillis) {
    return Send(pch, nSize, After(nMillis));
}

template <typename Io>
int CBlockingSocket::Bounded(Clock::time_point deadline, const SDirection& direction, Io io) {
    for (;;) {
        // The kernel's time-out bounds a blocking call; at the deadline the
        // call may only take what needs no waiting.
        const int nWait = MillisLeft(deadline);
        int flags = direction.nFlags;
        if (nWait > 0) {
            SetTimeout(direction.nOption, nWait, this->*direction.pnTimeout);
        } else {
            flags |= MSG_DONTWAIT;
        }
        const ssize_t n = io(flags);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (!WouldBlock(errno) && errno != EINTR) {
            throw new CBlockingSocketException(direction.pszFailed);
        }
        if (nWait == 0 || MillisLeft(deadline) == 0) {
            throw new CBlockingSocketException(direction.pszTimedOut, 0);
        }
    }
}

int CBlockingSocket::Send(const char* pch, int nSize, Clock::time_point deadline) {
    static const SDirection kSend{SO_SNDTIMEO, &CBlockingSocket::m_nSendTimeout, MSG_NOSIGNAL,
                                  "Send", "Send timeout"};
    return Bounded(deadline, kSend, [&](int flags) {
        return ::send(m_hSocket, pch, static_cast<size_t>(nSize), flags);
    });
}

int CBlockingSocket::SendAll(const char* pch, int nSize, int nMillis) {
    return SendAll(pch, nSize, After(nMillis));
}

int CBlockingSocket::SendAll(const char* pch, int nSize, Clock::time_point deadline) {
    int nSent = Send(pch, nSize, deadline);
    while (nSent < nSize) {
        if (MillisLeft(deadline) == 0) {
            throw new CBlockingSocketException("Send timeout", 0);
        }
        nSent += Send(pch + nSent, nSize - nSent, deadline);
    }
    return nSent;
}

int CBlockingSocket::Receive(char* pch, int nSize, int nMillis) {
    return Receive(pch, nSize, After(nMillis));
}

int CBlockingSocket::Receive(char* pch, int nSize, Clock::time_point deadline) {
    static const SDirection kReceive{SO_RCVTIMEO, &CBlockingSocket::m_nReceiveTimeout, 0, "Receive",
                                     "Receive timeout"};
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
    // The descriptor is released even when close reports an error; retrying
    // would risk closing a descriptor that another thread just received.
    if (::close(s) == SOCKET_ERROR && errno != EINTR) {
        throw new CBlockingSocketException("Close");
    }
}

void CBlockingSocket::CloseQuietly() {
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
        throw new CBlockingSocketException("GetHostByName", rc == EAI_SYSTEM ? errno : rc);
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
