#include "RpcTls.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "RpcAccessKey.h"
#include "RpcSettings.h"
#include "platform/Deadline.h"
#include "platform/com/ErrorInfo.h"

namespace {
// What both ends name the shared key by.
const char kPskIdentity[] = "regprobe-access-key";
// TLS_AES_128_GCM_SHA256: the key is bound to SHA-256, so only suites of
// that hash are offered.
const unsigned char kPskCipher[] = {0x13, 0x01};
const char kCipherSuites[] = "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256";
}  // namespace

// The transport under the TLS state: the socket itself, with a cap on what
// the server reads before the handshake is through.
struct CRpcTls::CBioState {
    int hSocket = -1;
    size_t nReadLeft = SIZE_MAX;
    bool bAlertReceived = false;
    BYTE psk[CRpcAccessKey::PSK_SIZE] = {};
};

namespace {
int BioWrite(BIO* pBio, const char* pb, int n) {
    auto* pState = static_cast<CRpcTls::CBioState*>(BIO_get_data(pBio));
    BIO_clear_retry_flags(pBio);
    const ssize_t rc = ::send(pState->hSocket, pb, size_t(n), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (rc < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            BIO_set_retry_write(pBio);
        }
        return -1;
    }
    return static_cast<int>(rc);
}

int BioRead(BIO* pBio, char* pb, int n) {
    auto* pState = static_cast<CRpcTls::CBioState*>(BIO_get_data(pBio));
    BIO_clear_retry_flags(pBio);
    if (pState->nReadLeft == 0 || n <= 0) {
        return -1;  // more than a handshake needs: not retried
    }
    const size_t nWant = std::min(size_t(n), pState->nReadLeft);
    const ssize_t rc = ::recv(pState->hSocket, pb, nWant, MSG_DONTWAIT);
    if (rc < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            BIO_set_retry_read(pBio);
        }
        return -1;
    }
    if (pState->nReadLeft != SIZE_MAX) {
        pState->nReadLeft -= size_t(rc);
    }
    return static_cast<int>(rc);
}

long BioCtrl(BIO*, int nCmd, long, void*) {
    return nCmd == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* s_pMethod = [] {
        BIO_METHOD* p = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "regprobe rpc");
        if (p != nullptr) {
            BIO_meth_set_write(p, BioWrite);
            BIO_meth_set_read(p, BioRead);
            BIO_meth_set_ctrl(p, BioCtrl);
        }
        return p;
    }();
    return s_pMethod;
}

CRpcTls::CBioState* StateOf(SSL* pSsl) {
    return static_cast<CRpcTls::CBioState*>(SSL_get_app_data(pSsl));
}

// A session that carries nothing but the shared key.
SSL_SESSION* PskSession(SSL* pSsl) {
    const SSL_CIPHER* pCipher = SSL_CIPHER_find(pSsl, kPskCipher);
    SSL_SESSION* pSession = SSL_SESSION_new();
    const BYTE* psk = StateOf(pSsl)->psk;
    if (pCipher == nullptr || pSession == nullptr ||
        SSL_SESSION_set1_master_key(pSession, psk, CRpcAccessKey::PSK_SIZE) != 1 ||
        SSL_SESSION_set_cipher(pSession, pCipher) != 1 ||
        SSL_SESSION_set_protocol_version(pSession, TLS1_3_VERSION) != 1) {
        SSL_SESSION_free(pSession);
        return nullptr;
    }
    return pSession;
}

int UsePsk(SSL* pSsl, const EVP_MD* pMd, const unsigned char** ppId, size_t* pnId,
           SSL_SESSION** ppSession) {
    SSL_SESSION* pSession = PskSession(pSsl);
    if (pSession == nullptr) {
        return 0;
    }
    if (pMd != nullptr &&
        SSL_CIPHER_get_handshake_digest(SSL_SESSION_get0_cipher(pSession)) != pMd) {
        SSL_SESSION_free(pSession);
        *ppId = nullptr;
        *pnId = 0;
        *ppSession = nullptr;
        return 1;
    }
    *ppId = reinterpret_cast<const unsigned char*>(kPskIdentity);
    *pnId = sizeof kPskIdentity - 1;
    *ppSession = pSession;
    return 1;
}

int FindPsk(SSL* pSsl, const unsigned char* pbId, size_t nId, SSL_SESSION** ppSession) {
    *ppSession = nullptr;
    if (nId != sizeof kPskIdentity - 1 || CRYPTO_memcmp(pbId, kPskIdentity, nId) != 0) {
        return 1;  // unknown: the handshake fails, there is nothing else to use
    }
    *ppSession = PskSession(pSsl);
    return *ppSession != nullptr ? 1 : 0;
}

void NoteAlerts(const SSL* pSsl, int nWhere, int) {
    if ((nWhere & SSL_CB_READ_ALERT) != 0) {
        StateOf(const_cast<SSL*>(pSsl))->bAlertReceived = true;
    }
}

SSL_CTX* Context(bool bServer) {
    const auto make = [](bool bServerSide) {
        SSL_CTX* pCtx = SSL_CTX_new(bServerSide ? TLS_server_method() : TLS_client_method());
        if (pCtx == nullptr) {
            return pCtx;
        }
        SSL_CTX_set_min_proto_version(pCtx, TLS1_3_VERSION);
        SSL_CTX_set_max_proto_version(pCtx, TLS1_3_VERSION);
        SSL_CTX_set_ciphersuites(pCtx, kCipherSuites);
        // Every connection proves the key afresh: no tickets, no early data.
        SSL_CTX_set_options(pCtx, SSL_OP_NO_TICKET);
        SSL_CTX_set_session_cache_mode(pCtx, SSL_SESS_CACHE_OFF);
        SSL_CTX_set_max_early_data(pCtx, 0);
        SSL_CTX_set_mode(pCtx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // A record's header and body, and the records after it, come in one
        // call rather than one call each.
        SSL_CTX_set_read_ahead(pCtx, 1);
        if (bServerSide) {
            SSL_CTX_set_num_tickets(pCtx, 0);
            SSL_CTX_set_psk_find_session_callback(pCtx, FindPsk);
        } else {
            SSL_CTX_set_psk_use_session_callback(pCtx, UsePsk);
        }
        SSL_CTX_set_info_callback(pCtx, NoteAlerts);
        return pCtx;
    };
    static SSL_CTX* s_pServer = make(true);
    static SSL_CTX* s_pClient = make(false);
    return bServer ? s_pServer : s_pClient;
}

}  // namespace

CRpcTls::~CRpcTls() {
    SSL_free(m_pSsl);  // and the transport under it
    if (m_pBio != nullptr) {
        OPENSSL_cleanse(m_pBio->psk, sizeof m_pBio->psk);
    }
}

std::unique_ptr<CRpcTls> CRpcTls::Handshake(int hSocket, const CRpcAccessKey& key, bool bServer,
                                            int nMillis, size_t nMaxHandshakeBytes, HRESULT* phr,
                                            const std::function<bool()>& keyProved) {
    const HRESULT hrFailed = bServer ? E_ACCESSDENIED : RPC_S_SERVER_UNAVAILABLE_HR;
    *phr = hrFailed;
    SSL_CTX* pCtx = Context(bServer);
    BIO_METHOD* pMethod = SocketMethod();
    if (pCtx == nullptr || pMethod == nullptr) {
        *phr = E_FAIL;
        return nullptr;
    }
    std::unique_ptr<CRpcTls> pTls(new CRpcTls);
    pTls->m_pBio = std::make_unique<CBioState>();
    CBioState& state = *pTls->m_pBio;
    state.hSocket = hSocket;
    state.nReadLeft = bServer ? nMaxHandshakeBytes : SIZE_MAX;
    if (!key.DerivePsk(state.psk)) {
        *phr = E_ACCESSDENIED;
        return nullptr;
    }
    ERR_clear_error();
    pTls->m_pSsl = SSL_new(pCtx);
    BIO* pBio = BIO_new(pMethod);
    if (pTls->m_pSsl == nullptr || pBio == nullptr) {
        BIO_free(pBio);
        *phr = E_OUTOFMEMORY;
        return nullptr;
    }
    BIO_set_data(pBio, &state);
    BIO_set_init(pBio, 1);
    SSL_set_bio(pTls->m_pSsl, pBio, pBio);
    SSL_set_app_data(pTls->m_pSsl, &state);
    if (bServer) {
        SSL_set_accept_state(pTls->m_pSsl);
    } else {
        SSL_set_connect_state(pTls->m_pSsl);
    }
    const CDeadline deadline = CDeadline::AfterMillis(nMillis);
    bool bProved = false;
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_do_handshake(pTls->m_pSsl);
        // The server takes up the key only once the binder checked out.
        if (bServer && !bProved && SSL_session_reused(pTls->m_pSsl) == 1) {
            bProved = true;
            if (keyProved && !keyProved()) {
                ERR_clear_error();
                return nullptr;
            }
        }
        if (rc == 1) {
            break;
        }
        const int nError = SSL_get_error(pTls->m_pSsl, rc);
        const short events = nError == SSL_ERROR_WANT_READ    ? POLLIN
                             : nError == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                              : 0;
        const int nWait = events == 0 ? -1 : WaitUntil(hSocket, events, deadline);
        if (nWait <= 0) {
            if (!bServer && state.bAlertReceived) {
                *phr = E_ACCESSDENIED;  // the server did not accept our key
                SetErrorDescription("The serial-port server refused this program's access key.");
            } else if (!bServer) {
                SetErrorDescription(nWait == 0 ? RpcNoAnswerWithin(nMillis)
                                               : "The serial-port server ended the connection "
                                                 "before its secure handshake was through.");
            }
            ERR_clear_error();
            return nullptr;
        }
    }
    // Only the key may have authenticated the peer.
    if (SSL_session_reused(pTls->m_pSsl) != 1) {
        return nullptr;
    }
    state.nReadLeft = SIZE_MAX;
    *phr = S_OK;
    return pTls;
}

ssize_t CRpcTls::Finish(int rc, size_t nDone, short* pEvents) {
    if (rc == 1) {
        return static_cast<ssize_t>(nDone);
    }
    const int nError = SSL_get_error(m_pSsl, rc);
    ERR_clear_error();
    if (nError == SSL_ERROR_WANT_READ || nError == SSL_ERROR_WANT_WRITE) {
        *pEvents = nError == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        return -1;
    }
    // Closed, or a record that failed its checks: nothing more is taken
    // from this connection.
    m_bFailed = true;
    return 0;
}

ssize_t CRpcTls::Read(BYTE* pb, size_t n, short* pEvents) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_bFailed) {
        return 0;
    }
    ERR_clear_error();
    size_t nDone = 0;
    const int rc = SSL_read_ex(m_pSsl, pb, n, &nDone);
    return Finish(rc, nDone, pEvents);
}

bool CRpcTls::HasPending() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_bFailed || SSL_has_pending(m_pSsl) == 1;
}

ssize_t CRpcTls::Write(const BYTE* pb, size_t n, short* pEvents) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_bFailed) {
        return 0;
    }
    ERR_clear_error();
    size_t nDone = 0;
    const int rc = SSL_write_ex(m_pSsl, pb, n, &nDone);
    return Finish(rc, nDone, pEvents);
}
