#include "RpcAccessKey.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

#include "RpcFrame.h"
#include "RpcFrameReader.h"

namespace {
const char kClientLabel[] = "regprobe client proof";
const char kServerLabel[] = "regprobe server proof";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}
}  // namespace

CRpcAccessKey::~CRpcAccessKey() {
    if (!m_key.empty()) {
        OPENSSL_cleanse(m_key.data(), m_key.size());
    }
}

HRESULT CRpcAccessKey::Load(const std::string& strPath) {
    if (!m_key.empty()) {
        OPENSSL_cleanse(m_key.data(), m_key.size());
        m_key.clear();
    }
    int hFile = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (hFile < 0) {
        return E_ACCESSDENIED;
    }
    struct stat st {};
    char text[512];
    ssize_t n = -1;
    if (::fstat(hFile, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 077) == 0 && st.st_size < static_cast<off_t>(sizeof text)) {
        n = ::read(hFile, text, sizeof text);
    }
    ::close(hFile);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof text)) {
        return E_ACCESSDENIED;
    }
    size_t nBegin = 0, nEnd = size_t(n);
    while (nBegin < nEnd && std::isspace(static_cast<unsigned char>(text[nBegin]))) {
        ++nBegin;
    }
    while (nEnd > nBegin && std::isspace(static_cast<unsigned char>(text[nEnd - 1]))) {
        --nEnd;
    }
    size_t nDigits = nEnd - nBegin;
    if (nDigits < 32 || nDigits > 128 || nDigits % 2 != 0) {
        OPENSSL_cleanse(text, sizeof text);
        return E_ACCESSDENIED;
    }
    std::vector<BYTE> key(nDigits / 2);
    bool bOk = true;
    for (size_t i = 0; i < key.size() && bOk; ++i) {
        int hi = HexValue(text[nBegin + 2 * i]);
        int lo = HexValue(text[nBegin + 2 * i + 1]);
        bOk = hi >= 0 && lo >= 0;
        key[i] = static_cast<BYTE>(hi << 4 | (lo & 0xF));
    }
    OPENSSL_cleanse(text, sizeof text);
    if (!bOk) {
        OPENSSL_cleanse(key.data(), key.size());
        return E_ACCESSDENIED;
    }
    m_key = std::move(key);
    return S_OK;
}

void CRpcAccessKey::Prove(const char* pszLabel, const BYTE* pbServerNonce,
                          const BYTE* pbClientNonce, BYTE* pbMac) const {
    BYTE message[64 + 2 * RPC_NONCE_SIZE];
    size_t nLabel = __builtin_strlen(pszLabel);
    __builtin_memcpy(message, pszLabel, nLabel);
    __builtin_memcpy(message + nLabel, pbServerNonce, RPC_NONCE_SIZE);
    __builtin_memcpy(message + nLabel + RPC_NONCE_SIZE, pbClientNonce, RPC_NONCE_SIZE);
    unsigned int nMac = 0;
    if (HMAC(EVP_sha256(), m_key.data(), static_cast<int>(m_key.size()), message,
             nLabel + 2 * RPC_NONCE_SIZE, pbMac, &nMac) == nullptr ||
        nMac != RPC_MAC_SIZE) {
        // A proof that cannot be computed must not match anything.
        RAND_bytes(pbMac, RPC_MAC_SIZE);
    }
}

HRESULT CRpcAccessKey::ClientHandshake(CRpcSocket& socket, int nMillis) const {
    if (m_key.empty()) {
        return E_ACCESSDENIED;
    }
    std::vector<BYTE> body;
    if (socket.ReceiveFrame(body, nMillis) != CRpcSocket::RECEIVE_OK) {
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    CRpcFrameReader challenge(body.data(), body.size());
    BYTE byType;
    DWORD dwCallId, dwMagic;
    WORD wVersion;
    BYTE serverNonce[RPC_NONCE_SIZE];
    if (!challenge.GetU8(byType) || byType != RPC_MSG_CHALLENGE || !challenge.GetU32(dwCallId) ||
        !challenge.GetU32(dwMagic) || dwMagic != RPC_MAGIC || !challenge.GetU16(wVersion) ||
        wVersion != RPC_VERSION || !challenge.GetBytes(serverNonce, sizeof serverNonce) ||
        !challenge.IsDone()) {
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    BYTE clientNonce[RPC_NONCE_SIZE];
    if (RAND_bytes(clientNonce, sizeof clientNonce) != 1) {
        return E_FAIL;
    }
    BYTE mac[RPC_MAC_SIZE];
    Prove(kClientLabel, serverNonce, clientNonce, mac);
    CRpcFrameWriter proof(RPC_MSG_PROOF, 0);
    proof.PutBytes(clientNonce, sizeof clientNonce);
    proof.PutBytes(mac, sizeof mac);
    if (!socket.SendFrame(proof, nMillis) ||
        socket.ReceiveFrame(body, nMillis) != CRpcSocket::RECEIVE_OK) {
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    CRpcFrameReader verdict(body.data(), body.size());
    LONG hr;
    BYTE serverMac[RPC_MAC_SIZE];
    if (!verdict.GetU8(byType) || byType != RPC_MSG_VERDICT || !verdict.GetU32(dwCallId) ||
        !verdict.GetI32(hr) || !verdict.GetBytes(serverMac, sizeof serverMac) ||
        !verdict.IsDone()) {
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    if (FAILED(hr)) {
        return hr == E_ACCESSDENIED ? E_ACCESSDENIED : RPC_S_SERVER_UNAVAILABLE_HR;
    }
    Prove(kServerLabel, serverNonce, clientNonce, mac);
    return CRYPTO_memcmp(mac, serverMac, sizeof mac) == 0 ? S_OK : E_ACCESSDENIED;
}

HRESULT CRpcAccessKey::ServerHandshake(CRpcSocket& socket, int nMillis) const {
    BYTE serverNonce[RPC_NONCE_SIZE];
    if (m_key.empty() || RAND_bytes(serverNonce, sizeof serverNonce) != 1) {
        return E_ACCESSDENIED;
    }
    CRpcFrameWriter challenge(RPC_MSG_CHALLENGE, 0);
    challenge.PutU32(RPC_MAGIC);
    challenge.PutU16(RPC_VERSION);
    challenge.PutBytes(serverNonce, sizeof serverNonce);
    std::vector<BYTE> body;
    if (!socket.SendFrame(challenge, nMillis) ||
        socket.ReceiveFrame(body, nMillis) != CRpcSocket::RECEIVE_OK) {
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    CRpcFrameReader proof(body.data(), body.size());
    BYTE byType;
    DWORD dwCallId;
    BYTE clientNonce[RPC_NONCE_SIZE];
    BYTE clientMac[RPC_MAC_SIZE];
    bool bWellFormed = proof.GetU8(byType) && byType == RPC_MSG_PROOF && proof.GetU32(dwCallId) &&
                       proof.GetBytes(clientNonce, sizeof clientNonce) &&
                       proof.GetBytes(clientMac, sizeof clientMac) && proof.IsDone();
    BYTE mac[RPC_MAC_SIZE];
    HRESULT hr = E_ACCESSDENIED;
    if (bWellFormed) {
        Prove(kClientLabel, serverNonce, clientNonce, mac);
        if (CRYPTO_memcmp(mac, clientMac, sizeof mac) == 0) {
            hr = S_OK;
        }
    }
    CRpcFrameWriter verdict(RPC_MSG_VERDICT, 0);
    verdict.PutI32(hr);
    if (SUCCEEDED(hr)) {
        Prove(kServerLabel, serverNonce, clientNonce, mac);
    } else {
        __builtin_memset(mac, 0, sizeof mac);
    }
    verdict.PutBytes(mac, sizeof mac);
    bool bSent = socket.SendFrame(verdict, nMillis);
    return SUCCEEDED(hr) && !bSent ? RPC_S_SERVER_UNAVAILABLE_HR : hr;
}
