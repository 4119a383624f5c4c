#include "TlsSocketBio.h"

#include <openssl/bio.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

namespace {
int HandleOf(BIO* pBio) {
    return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(pBio)));
}

// A call that would block, or was interrupted, is tried again by the caller.
int Finish(BIO* pBio, ssize_t rc, bool bRead) {
    if (rc >= 0) {
        return static_cast<int>(rc);
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        if (bRead) {
            BIO_set_retry_read(pBio);
        } else {
            BIO_set_retry_write(pBio);
        }
    }
    return -1;
}

int SocketWrite(BIO* pBio, const char* pb, int n) {
    BIO_clear_retry_flags(pBio);
    const ssize_t rc = ::send(HandleOf(pBio), pb, size_t(n), MSG_NOSIGNAL | MSG_DONTWAIT);
    return Finish(pBio, rc, false);
}

int SocketRead(BIO* pBio, char* pb, int n) {
    BIO_clear_retry_flags(pBio);
    if (n <= 0) {
        return 0;
    }
    const ssize_t rc = ::recv(HandleOf(pBio), pb, size_t(n), MSG_DONTWAIT);
    return Finish(pBio, rc, true);
}

long SocketCtrl(BIO*, int nCmd, long, void*) {
    return nCmd == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* s_pMethod = [] {
        BIO_METHOD* p = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "regprobe socket");
        if (p != nullptr) {
            BIO_meth_set_write(p, SocketWrite);
            BIO_meth_set_read(p, SocketRead);
            BIO_meth_set_ctrl(p, SocketCtrl);
        }
        return p;
    }();
    return s_pMethod;
}
}  // namespace

bio_st* NewTlsSocketBio(int hSocket) {
    BIO_METHOD* pMethod = SocketMethod();
    BIO* pBio = pMethod != nullptr ? BIO_new(pMethod) : nullptr;
    if (pBio != nullptr) {
        BIO_set_data(pBio, reinterpret_cast<void*>(static_cast<intptr_t>(hSocket)));
        BIO_set_init(pBio, 1);
    }
    return pBio;
}
