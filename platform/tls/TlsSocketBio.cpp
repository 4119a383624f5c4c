#include "TlsSocketBio.h"

#include <openssl/bio.h>
#include <sys/socket.h>

#include <cerrno>

namespace {
struct CSocketState {
    int hSocket;
    bool bWaitInReads = false;
};

CSocketState& StateOf(BIO* pBio) {
    return *static_cast<CSocketState*>(BIO_get_data(pBio));
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
    const ssize_t rc = ::send(StateOf(pBio).hSocket, pb, size_t(n), MSG_NOSIGNAL | MSG_DONTWAIT);
    return Finish(pBio, rc, false);
}

int SocketRead(BIO* pBio, char* pb, int n) {
    BIO_clear_retry_flags(pBio);
    if (n <= 0) {
        return 0;
    }
    const CSocketState& state = StateOf(pBio);
    const ssize_t rc = ::recv(state.hSocket, pb, size_t(n), state.bWaitInReads ? 0 : MSG_DONTWAIT);
    return Finish(pBio, rc, true);
}

long SocketCtrl(BIO*, int nCmd, long, void*) {
    return nCmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketDestroy(BIO* pBio) {
    delete static_cast<CSocketState*>(BIO_get_data(pBio));
    BIO_set_data(pBio, nullptr);
    return 1;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* s_pMethod = [] {
        BIO_METHOD* p = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "regprobe socket");
        if (p != nullptr) {
            BIO_meth_set_write(p, SocketWrite);
            BIO_meth_set_read(p, SocketRead);
            BIO_meth_set_ctrl(p, SocketCtrl);
            BIO_meth_set_destroy(p, SocketDestroy);
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
        BIO_set_data(pBio, new CSocketState{hSocket});
        BIO_set_init(pBio, 1);
    }
    return pBio;
}

void SetTlsSocketBioWaits(bio_st* pBio, bool bWaitInReads) {
    StateOf(pBio).bWaitInReads = bWaitInReads;
}
