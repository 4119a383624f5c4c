#include "SimTls.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Deadline.h"
#include "platform/tls/TlsSocketBio.h"
#include "wire/TcpListener.h"

namespace {
// "cannot read the private key key.pem: No such file or directory" when the
// file cannot be opened at all.
bool Readable(const CString& strPath, const CString& strWhat, CString& strError) {
    FILE* pFile = std::fopen(strPath.c_str(), "r");
    if (pFile == nullptr) {
        strError = "cannot read the " + strWhat + " " + strPath + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(pFile);
    return true;
}

CString LastError(const CString& strWhat) {
    const char* pszReason = ERR_reason_error_string(ERR_peek_last_error());
    ERR_clear_error();
    return strWhat + (pszReason != nullptr ? CString(": ") + pszReason : CString());
}

// A secured connection after its handshake; frees its TLS state, and tells
// the client it ends, when destroyed.
class CTlsStream : public CByteStream {
public:
    CTlsStream(SSL* pSsl, int hSocket) : m_pSsl(pSsl), m_hSocket(hSocket) {}
    ~CTlsStream() override {
        ERR_clear_error();
        if (!m_bFailed) {
            SSL_shutdown(m_pSsl);
        }
        SSL_free(m_pSsl);
        ERR_clear_error();
    }
    CTlsStream(const CTlsStream&) = delete;
    CTlsStream& operator=(const CTlsStream&) = delete;

    int Handle() const override { return m_hSocket; }
    bool HasPending() override { return SSL_has_pending(m_pSsl) == 1; }

    ssize_t Receive(BYTE* pb, size_t n) override {
        size_t nDone = 0;
        ERR_clear_error();
        const int rc = SSL_read_ex(m_pSsl, pb, n, &nDone);
        if (rc == 1) {
            return static_cast<ssize_t>(nDone);
        }
        const int nError = SSL_get_error(m_pSsl, rc);
        if (nError == SSL_ERROR_WANT_READ || nError == SSL_ERROR_WANT_WRITE) {
            return -1;
        }
        m_bFailed = nError != SSL_ERROR_ZERO_RETURN;
        return 0;
    }

    bool Send(const BYTE* pb, size_t n) override {
        const CDeadline deadline = CDeadline::AfterMillis(CTcpListener::SEND_TIMEOUT_MS);
        for (;;) {
            size_t nDone = 0;
            ERR_clear_error();
            const int rc = SSL_write_ex(m_pSsl, pb, n, &nDone);
            if (rc == 1) {
                return true;
            }
            const int nError = SSL_get_error(m_pSsl, rc);
            const short events = nError == SSL_ERROR_WANT_WRITE  ? POLLOUT
                                 : nError == SSL_ERROR_WANT_READ ? POLLIN
                                                                 : 0;
            if (events == 0 || WaitUntil(m_hSocket, events, deadline) <= 0) {
                m_bFailed = true;
                return false;
            }
        }
    }

private:
    SSL* m_pSsl;
    int m_hSocket;
    bool m_bFailed = false;
};

// Why the handshake failed, from the client's point of view.
CString HandshakeFailure(SSL* pSsl) {
    const long nVerify = SSL_get_verify_result(pSsl);
    if (nVerify != X509_V_OK) {
        ERR_clear_error();
        return CString("client certificate refused: ") + X509_verify_cert_error_string(nVerify);
    }
    if (ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE) {
        ERR_clear_error();
        return "the client gave no certificate";
    }
    return LastError("handshake failed");
}

// Waits, until the deadline or a stop, for what the handshake asks.
bool WaitForHandshake(SSL* pSsl, int rc, int hSocket, int hStopEvent, const CDeadline& deadline) {
    const int nError = SSL_get_error(pSsl, rc);
    if (nError != SSL_ERROR_WANT_READ && nError != SSL_ERROR_WANT_WRITE) {
        return false;
    }
    pollfd pfds[2] = {{hStopEvent, POLLIN, 0},
                      {hSocket, short(nError == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0}};
    return WaitUntil(pfds, 2, deadline) > 0 && pfds[0].revents == 0;
}
}  // namespace

CSimTls::~CSimTls() {
    SSL_CTX_free(m_pCtx);
}

BOOL CSimTls::Load(const CString& strCertFile, const CString& strKeyFile, const CString& strCaFile,
                   CString& strError) {
    SSL_CTX_free(m_pCtx);
    m_pCtx = SSL_CTX_new(TLS_server_method());
    if (m_pCtx == nullptr) {
        strError = LastError("cannot set up TLS");
        return FALSE;
    }
    SSL_CTX_set_min_proto_version(m_pCtx, TLS1_2_VERSION);
    SSL_CTX_set_read_ahead(m_pCtx, 1);
    if (!Readable(strCertFile, "certificate file", strError) ||
        !Readable(strKeyFile, "private key", strError) ||
        (!strCaFile.empty() && !Readable(strCaFile, "CA file", strError))) {
        return FALSE;
    }
    if (SSL_CTX_use_certificate_chain_file(m_pCtx, strCertFile.c_str()) != 1) {
        strError = LastError("cannot use the certificate file " + strCertFile);
        return FALSE;
    }
    if (SSL_CTX_use_PrivateKey_file(m_pCtx, strKeyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(m_pCtx) != 1) {
        strError = LastError("cannot use the private key " + strKeyFile);
        return FALSE;
    }
    if (!strCaFile.empty()) {
        STACK_OF(X509_NAME)* pNames = SSL_load_client_CA_file(strCaFile.c_str());
        if (pNames == nullptr || SSL_CTX_load_verify_file(m_pCtx, strCaFile.c_str()) != 1) {
            sk_X509_NAME_pop_free(pNames, X509_NAME_free);
            strError = LastError("cannot use the CA file " + strCaFile);
            return FALSE;
        }
        SSL_CTX_set_client_CA_list(m_pCtx, pNames);
        SSL_CTX_set_verify(m_pCtx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    return TRUE;
}

std::unique_ptr<CByteStream> CSimTls::Accept(int hSocket, int hStopEvent, int nMillis,
                                             CString& strWhy) const {
    const int nFlags = ::fcntl(hSocket, F_GETFL);
    SSL* pSsl = m_pCtx != nullptr ? SSL_new(m_pCtx) : nullptr;
    BIO* pBio = pSsl != nullptr ? NewTlsSocketBio(hSocket) : nullptr;
    if (pBio == nullptr || nFlags < 0 || ::fcntl(hSocket, F_SETFL, nFlags | O_NONBLOCK) != 0) {
        BIO_free(pBio);
        SSL_free(pSsl);
        strWhy = "cannot set up TLS";
        return nullptr;
    }
    SSL_set_bio(pSsl, pBio, pBio);
    const CDeadline deadline = CDeadline::AfterMillis(nMillis);
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_accept(pSsl);
        if (rc == 1) {
            return std::make_unique<CTlsStream>(pSsl, hSocket);
        }
        if (!WaitForHandshake(pSsl, rc, hSocket, hStopEvent, deadline)) {
            strWhy = deadline.HasPassed() ? "no handshake within " + std::to_string(nMillis) + " ms"
                                          : HandshakeFailure(pSsl);
            SSL_free(pSsl);
            return nullptr;
        }
    }
}
