#include "TlsSession.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Text.h"
#include "platform/tls/TlsSocketBio.h"

// What the callbacks note while a connection is made and used.
struct CTlsSession::CState {
    CString strHost;
    // The CA file's name; empty when the system's CAs are trusted.
    CString strCaName;
    bool bCertGiven = false;
    // The first fault our check found in the device's certificates, where,
    // and the names the device's own certificate is for.
    int nVerifyError = X509_V_OK;
    int nVerifyDepth = 0;
    CString strPeerNames;
    // The last alert the device sent, -1 for none.
    int nAlert = -1;
    bool bCertRequested = false;
    // The device sent a session ticket after a TLS 1.3 handshake: it took
    // our certificate.
    bool bVerdict = false;
    bool bHandshakeDone = false;
};

namespace {
// A verdict on our certificate normally follows the handshake within a round
// trip; the wait for it is as long as the handshake took, at least this.
constexpr auto kMinVerdictWait = std::chrono::milliseconds(50);

using CtxPtr = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;

CString FileName(const CString& strPath) {
    const size_t nSlash = strPath.rfind('/');
    return nSlash == CString::npos ? strPath : strPath.substr(nSlash + 1);
}

CString Lowered(const char* psz) {
    CString str = psz != nullptr ? psz : "";
    if (!str.empty()) {
        str[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(str[0])));
    }
    return str;
}

[[noreturn]] void Throw(const char* pszOperation, const CString& strDetail, int nError = 0) {
    ERR_clear_error();
    auto* e = new CBlockingSocketException(pszOperation, nError);
    e->m_strDetail = strDetail;
    throw e;
}

CTlsSession::CState* StateOf(const SSL* pSsl) {
    return static_cast<CTlsSession::CState*>(SSL_get_app_data(pSsl));
}

// The names a certificate is for: its alternative names, else its common
// name.
CString NamesOf(X509* pCert) {
    CString strNames;
    auto* pNames = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(pCert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; i < sk_GENERAL_NAME_num(pNames); ++i) {
        const GENERAL_NAME* pName = sk_GENERAL_NAME_value(pNames, i);
        CString strName;
        if (pName->type == GEN_DNS) {
            const ASN1_STRING* p = pName->d.dNSName;
            strName.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(p)),
                           size_t(ASN1_STRING_length(p)));
        } else if (pName->type == GEN_IPADD) {
            const ASN1_OCTET_STRING* p = pName->d.iPAddress;
            char szText[INET6_ADDRSTRLEN] = "";
            const int nFamily = ASN1_STRING_length(p) == 4 ? AF_INET : AF_INET6;
            if (::inet_ntop(nFamily, ASN1_STRING_get0_data(p), szText, sizeof szText) != nullptr) {
                strName = szText;
            }
        }
        if (!strName.empty()) {
            strNames += (strNames.empty() ? "" : ", ") + strName;
        }
    }
    GENERAL_NAMES_free(pNames);
    char szCommon[256] = "";
    if (strNames.empty() && X509_NAME_get_text_by_NID(X509_get_subject_name(pCert), NID_commonName,
                                                      szCommon, sizeof szCommon) > 0) {
        strNames = szCommon;
    }
    return strNames.empty() ? "no name" : strNames;
}

int NoteVerify(int nOk, X509_STORE_CTX* pStore) {
    auto* pSsl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(pStore, SSL_get_ex_data_X509_STORE_CTX_idx()));
    CTlsSession::CState* pState = StateOf(pSsl);
    if (nOk == 0 && pState->nVerifyError == X509_V_OK) {
        pState->nVerifyError = X509_STORE_CTX_get_error(pStore);
        pState->nVerifyDepth = X509_STORE_CTX_get_error_depth(pStore);
        pState->strPeerNames = NamesOf(X509_STORE_CTX_get0_cert(pStore));
    }
    return nOk;
}

void NoteAlert(const SSL* pSsl, int nWhere, int nValue) {
    const int nDescription = nValue & 0xFF;
    if ((nWhere & SSL_CB_READ_ALERT) != 0 && nDescription != SSL_AD_CLOSE_NOTIFY) {
        StateOf(pSsl)->nAlert = nDescription;
    }
}

void NoteMessage(int bWrite, int, int nContentType, const void* pBuf, size_t nLen, SSL* pSsl,
                 void*) {
    if (bWrite != 0 || nContentType != SSL3_RT_HANDSHAKE || nLen == 0) {
        return;
    }
    const BYTE type = *static_cast<const BYTE*>(pBuf);
    if (type == SSL3_MT_CERTIFICATE_REQUEST) {
        StateOf(pSsl)->bCertRequested = true;
    } else if (type == SSL3_MT_NEWSESSION_TICKET) {
        StateOf(pSsl)->bVerdict = true;
    }
}

void CheckReadable(const CString& strPath, const CString& strWhat) {
    FILE* pFile = std::fopen(strPath.c_str(), "r");
    if (pFile == nullptr) {
        const int nError = errno;
        Throw("Connect", "cannot read the " + strWhat + " " + FileName(strPath) + ": " +
                             Lowered(std::strerror(nError)));
    }
    std::fclose(pFile);
}

struct CAsked {
    const CString* pstrPassphrase;
    bool bAsked = false;
};

int GivePassphrase(char* pBuf, int nSize, int, void* pUser) {
    auto* pAsked = static_cast<CAsked*>(pUser);
    pAsked->bAsked = true;
    const CString& str = *pAsked->pstrPassphrase;
    if (str.empty() || str.size() > size_t(nSize)) {
        return -1;
    }
    std::memcpy(pBuf, str.data(), str.size());
    return static_cast<int>(str.size());
}

// The private key in the PEM file, nullptr when it cannot be read; *pbAsked
// tells whether it wanted a passphrase.
EVP_PKEY* ReadKey(const CString& strPath, const CString& strPassphrase, bool* pbAsked) {
    CAsked asked{&strPassphrase};
    EVP_PKEY* pKey = nullptr;
    if (BIO* pBio = BIO_new_file(strPath.c_str(), "r")) {
        pKey = PEM_read_bio_PrivateKey(pBio, nullptr, GivePassphrase, &asked);
        BIO_free(pBio);
    }
    ERR_clear_error();
    *pbAsked = asked.bAsked;
    return pKey;
}

void LoadCa(SSL_CTX* pCtx, const CString& strPath) {
    if (strPath.empty()) {
        if (SSL_CTX_set_default_verify_paths(pCtx) != 1) {
            Throw("Connect", "cannot read the CAs this system trusts");
        }
        return;
    }
    CheckReadable(strPath, "CA file");
    if (SSL_CTX_load_verify_file(pCtx, strPath.c_str()) != 1) {
        Throw("Connect", "the CA file " + FileName(strPath) + " holds no certificate (PEM)");
    }
}

void LoadKey(SSL_CTX* pCtx, const CString& strPath, const CTlsSession::CFiles& files) {
    CheckReadable(strPath, "private key");
    bool bAsked = false;
    EVP_PKEY* pKey = ReadKey(strPath, files.strPassphrase, &bAsked);
    const CString strName = FileName(strPath);
    if (pKey == nullptr && bAsked) {
        Throw("Connect", files.strPassphrase.empty()
                             ? "the private key " + strName + " needs a passphrase"
                             : "wrong passphrase for the private key " + strName);
    }
    if (pKey == nullptr) {
        Throw("Connect", "the file " + strName + " holds no private key (PEM)");
    }
    const int nUsed = SSL_CTX_use_PrivateKey(pCtx, pKey);
    EVP_PKEY_free(pKey);
    if (nUsed != 1 || SSL_CTX_check_private_key(pCtx) != 1) {
        Throw("Connect", "the private key " + strName + " does not belong to the certificate " +
                             FileName(files.strCertFile));
    }
}

// Our certificate and its key, when there is one to present.
void LoadIdentity(SSL_CTX* pCtx, const CTlsSession::CFiles& files) {
    if (files.strCertFile.empty()) {
        if (!files.strKeyFile.empty()) {
            Throw("Connect", "the private key " + FileName(files.strKeyFile) +
                                 " is given without its certificate");
        }
        return;
    }
    CheckReadable(files.strCertFile, "certificate file");
    if (SSL_CTX_use_certificate_chain_file(pCtx, files.strCertFile.c_str()) != 1) {
        Throw("Connect", "the file " + FileName(files.strCertFile) + " holds no certificate (PEM)");
    }
    LoadKey(pCtx, files.strKeyFile.empty() ? files.strCertFile : files.strKeyFile, files);
}

CtxPtr MakeContext(const CTlsSession::CFiles& files) {
    CtxPtr pCtx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!pCtx) {
        Throw("Connect", "cannot set up TLS");
    }
    SSL_CTX* p = pCtx.get();
    SSL_CTX_set_min_proto_version(p, TLS1_2_VERSION);
    SSL_CTX_set_verify(p, SSL_VERIFY_PEER, NoteVerify);
    SSL_CTX_set_info_callback(p, NoteAlert);
    SSL_CTX_set_msg_callback(p, NoteMessage);
    // A record's header and body come in one call rather than two.
    SSL_CTX_set_read_ahead(p, 1);
    SSL_CTX_set_session_cache_mode(p, SSL_SESS_CACHE_OFF);
    LoadCa(p, files.strCaFile);
    LoadIdentity(p, files);
    return pCtx;
}

// The device's certificate must be for the host the user named.
void CheckHostName(SSL* pSsl, const CString& strHost) {
    in_addr addr{};
    if (::inet_pton(AF_INET, strHost.c_str(), &addr) == 1) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(pSsl), strHost.c_str());
        return;
    }
    SSL_set_tlsext_host_name(pSsl, strHost.c_str());
    SSL_set1_host(pSsl, strHost.c_str());
}

CString VerifyText(const CTlsSession::CState& s) {
    const CString strWhose =
        s.nVerifyDepth == 0 ? "the device's certificate" : "a CA certificate of the device's chain";
    switch (s.nVerifyError) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return strWhose + " has expired";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return strWhose + " is not valid yet";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "the device's certificate is for " + s.strPeerNames + ", not " + s.strHost;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
            return s.strCaName.empty()
                       ? "the device's certificate is not signed by a CA this system trusts"
                       : "the device's certificate is not signed by the CA in " + s.strCaName;
        default:
            return "the device's certificate was refused: " +
                   Lowered(X509_verify_cert_error_string(s.nVerifyError));
    }
}

CString AlertText(const CTlsSession::CState& s) {
    const char* pszWhy = nullptr;
    switch (s.nAlert) {
        case SSL_AD_CERTIFICATE_REQUIRED:
            pszWhy = "none given";
            break;
        case SSL_AD_HANDSHAKE_FAILURE:
            // Before TLS 1.3 a device that wants a certificate says no more.
            pszWhy = s.bCertRequested && !s.bCertGiven ? "none given" : nullptr;
            break;
        case SSL_AD_UNKNOWN_CA:
            pszWhy = "not signed by a CA it trusts";
            break;
        case SSL_AD_CERTIFICATE_EXPIRED:
            pszWhy = "expired";
            break;
        case SSL_AD_CERTIFICATE_REVOKED:
            pszWhy = "revoked";
            break;
        case SSL_AD_BAD_CERTIFICATE:
        case SSL_AD_UNSUPPORTED_CERTIFICATE:
        case SSL_AD_CERTIFICATE_UNKNOWN:
        case SSL_AD_ACCESS_DENIED:
            pszWhy = SSL_alert_desc_string_long(s.nAlert);
            break;
        default:
            break;
    }
    if (pszWhy != nullptr) {
        return "the device refused our certificate (" + Lowered(pszWhy) + ")";
    }
    if (s.nAlert == SSL_AD_PROTOCOL_VERSION) {
        return "the device speaks neither TLS 1.2 nor TLS 1.3";
    }
    return "the device ended the secure connection (" +
           Lowered(SSL_alert_desc_string_long(s.nAlert)) + ")";
}

// A device that closes without an alert; some close at once when our
// certificate does not suit them.
CString EndText(const CTlsSession::CState& s) {
    if (!s.bHandshakeDone) {
        return "the device closed the connection during the secure handshake";
    }
    if (s.bCertRequested && !s.bVerdict) {
        return s.bCertGiven ? "the device closed the connection on receiving our certificate"
                            : "the device closed the connection: it asked for our certificate "
                              "(none given)";
    }
    return "the device closed the connection";
}

bool IsEndOfStream(int nError, int nSysError) {
    const unsigned long nLast = ERR_peek_error();
    return nError == SSL_ERROR_ZERO_RETURN ||
           (nError == SSL_ERROR_SYSCALL && nSysError == 0 && nLast == 0) ||
           (nError == SSL_ERROR_SSL && ERR_GET_REASON(nLast) == SSL_R_UNEXPECTED_EOF_WHILE_READING);
}
}  // namespace

CTlsSession::CTlsSession() : m_pState(std::make_unique<CState>()) {}

CTlsSession::~CTlsSession() {
    SSL_free(m_pSsl);  // and the transport under it; the socket stays
}

std::unique_ptr<CTlsSession> CTlsSession::Connect(int hSocket, const CString& strHost,
                                                  const CFiles& files, const CDeadline& deadline,
                                                  int nMillis, bool bKept) {
    std::unique_ptr<CTlsSession> p(new CTlsSession);
    p->m_hSocket = hSocket;
    p->m_nMillis = nMillis;
    CState& state = *p->m_pState;
    state.strHost = Trim(strHost, ETrim::BLANKS);
    state.strCaName = FileName(files.strCaFile);
    state.bCertGiven = !files.strCertFile.empty();
    ERR_clear_error();
    const CtxPtr pCtx = MakeContext(files);
    p->m_pSsl = SSL_new(pCtx.get());
    BIO* pBio = p->m_pSsl != nullptr ? NewTlsSocketBio(hSocket) : nullptr;
    if (pBio == nullptr) {
        Throw("Connect", "cannot set up TLS");
    }
    SSL_set_bio(p->m_pSsl, pBio, pBio);
    SSL_set_app_data(p->m_pSsl, &state);
    CheckHostName(p->m_pSsl, state.strHost);
    const auto start = std::chrono::steady_clock::now();
    p->Handshake(deadline);
    state.bHandshakeDone = true;
    // Before TLS 1.3 the device's last handshake message follows its check
    // of our certificate.
    state.bVerdict = state.bVerdict || SSL_version(p->m_pSsl) != TLS1_3_VERSION;
    if (bKept && state.bCertRequested && !state.bVerdict) {
        const auto took = std::chrono::steady_clock::now() - start;
        p->AwaitVerdict(std::min(
            deadline, CDeadline::After(std::max<std::chrono::nanoseconds>(took, kMinVerdictWait))));
    }
    return p;
}

void CTlsSession::Handshake(const CDeadline& deadline) {
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_connect(m_pSsl);
        if (rc == 1) {
            return;
        }
        WaitFor(rc, "Connect", deadline);
    }
}

void CTlsSession::AwaitVerdict(const CDeadline& until) {
    // TLS 1.3 lets a device refuse our certificate only after the handshake;
    // a kept connection should fail at once, not at its first exchange. No
    // word by then means none is coming, and the first exchange would tell.
    BYTE b = 0;
    while (!m_pState->bVerdict) {
        ERR_clear_error();
        size_t nDone = 0;
        const int rc = SSL_peek_ex(m_pSsl, &b, 1, &nDone);
        if (rc == 1 || SSL_get_error(m_pSsl, rc) != SSL_ERROR_WANT_READ) {
            if (rc != 1) {
                Fail("Connect", rc);
            }
            return;
        }
        if (WaitUntil(m_hSocket, POLLIN, until) <= 0) {
            return;
        }
    }
}

void CTlsSession::WaitFor(int rc, const char* pszOperation, const CDeadline& deadline) {
    const int nError = SSL_get_error(m_pSsl, rc);
    const short events = nError == SSL_ERROR_WANT_READ    ? POLLIN
                         : nError == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                          : 0;
    if (events == 0) {
        Fail(pszOperation, rc);
    }
    Wait(events, pszOperation, deadline);
}

void CTlsSession::Wait(short events, const char* pszOperation, const CDeadline& deadline) {
    const int nReady = WaitUntil(m_hSocket, events, deadline);
    if (nReady < 0) {
        throw new CBlockingSocketException(pszOperation);
    }
    if (nReady == 0) {
        auto* e = CBlockingSocketException::TimedOut(pszOperation);
        if (!m_pState->bHandshakeDone) {
            e->m_strDetail =
                "the secure handshake did not finish within " + std::to_string(m_nMillis) + " ms";
        }
        throw e;
    }
}

void CTlsSession::Fail(const char* pszOperation, int rc) {
    const int nSysError = errno;
    const int nError = SSL_get_error(m_pSsl, rc);
    const CState& s = *m_pState;
    if (s.nVerifyError != X509_V_OK) {
        Throw(pszOperation, VerifyText(s));
    }
    if (s.nAlert >= 0) {
        Throw(pszOperation, AlertText(s));
    }
    if (IsEndOfStream(nError, nSysError)) {
        Throw(pszOperation, EndText(s));
    }
    if (nError == SSL_ERROR_SYSCALL) {
        ERR_clear_error();
        throw new CBlockingSocketException(pszOperation, nSysError);
    }
    const int nReason = ERR_GET_REASON(ERR_peek_error());
    if (nReason == SSL_R_WRONG_VERSION_NUMBER || nReason == SSL_R_PACKET_LENGTH_TOO_LONG) {
        Throw(pszOperation, "the device does not answer in TLS");
    }
    const char* pszReason = ERR_reason_error_string(ERR_peek_error());
    Throw(pszOperation, "the secure connection failed (" +
                            Lowered(pszReason != nullptr ? pszReason : "unknown reason") + ")");
}

int CTlsSession::Send(const BYTE* pb, int n, const CDeadline& deadline) {
    for (;;) {
        ERR_clear_error();
        size_t nDone = 0;
        const int rc = SSL_write_ex(m_pSsl, pb, size_t(n), &nDone);
        if (rc == 1) {
            return n;  // without partial writes, a write is all or nothing
        }
        WaitFor(rc, "Send", deadline);
    }
}

int CTlsSession::Receive(BYTE* pb, int n, const CDeadline& deadline) {
    BIO* pBio = SSL_get_rbio(m_pSsl);
    for (;;) {
        // A read that blocks in the kernel, by a time-out that ends before
        // the deadline, needs no timer of our own; the rest of the time, if
        // any, is waited for exactly.
        SetTlsSocketBioWaits(pBio,
                             SetKernelTimeout(m_hSocket, SO_RCVTIMEO, m_nReceiveTimeout, deadline));
        ERR_clear_error();
        size_t nDone = 0;
        const int rc = SSL_read_ex(m_pSsl, pb, size_t(n), &nDone);
        SetTlsSocketBioWaits(pBio, false);
        if (rc == 1) {
            m_pState->bVerdict = true;
            return static_cast<int>(nDone);
        }
        const int nSysError = errno;
        const int nError = SSL_get_error(m_pSsl, rc);
        // An end before any answer, where our certificate may be the
        // reason, says so.
        const bool bPlainEnd = m_pState->bVerdict || !m_pState->bCertRequested;
        if (m_pState->nAlert < 0 && bPlainEnd && IsEndOfStream(nError, nSysError)) {
            ERR_clear_error();
            return 0;
        }
        WaitFor(rc, "Receive", deadline);
    }
}

void CTlsSession::Close() {
    // One try at close_notify; nothing waits for the device's.
    ERR_clear_error();
    SSL_shutdown(m_pSsl);
    ERR_clear_error();
}

BOOL CTlsSession::KeyNeedsPassphrase(const CString& strKeyFile) {
    bool bAsked = false;
    EVP_PKEY_free(ReadKey(strKeyFile, CString(), &bAsked));
    return bAsked ? TRUE : FALSE;
}
