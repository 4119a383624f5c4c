#include "SocketStream.h"

#include <sys/socket.h>

#include <cerrno>

ssize_t CSocketStream::Receive(BYTE* pb, size_t n) {
    const ssize_t nGot = ::recv(m_hSocket, pb, n, 0);
    if (nGot < 0) {
        return errno == EINTR ? -1 : 0;
    }
    return nGot;
}

bool CSocketStream::Send(const BYTE* pb, size_t n) {
    while (n > 0) {
        const ssize_t nSent = ::send(m_hSocket, pb, n, MSG_NOSIGNAL);
        if (nSent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        pb += nSent;
        n -= size_t(nSent);
    }
    return true;
}
