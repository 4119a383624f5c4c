#include "RpcAccessKey.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

#include "platform/UniqueFd.h"

namespace {
const char kPskLabel[] = "regprobe remote access tls key";

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
    CUniqueFd hFile(::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!hFile) {
        return E_ACCESSDENIED;
    }
    struct stat st {};
    char text[512];
    ssize_t n = -1;
    if (::fstat(hFile.Get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 077) == 0 && st.st_size < static_cast<off_t>(sizeof text)) {
        n = ::read(hFile.Get(), text, sizeof text);
    }
    hFile.Reset();
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

bool CRpcAccessKey::DerivePsk(BYTE* pbPsk) const {
    unsigned int nMac = 0;
    return !m_key.empty() &&
           HMAC(EVP_sha256(), m_key.data(), static_cast<int>(m_key.size()),
                reinterpret_cast<const BYTE*>(kPskLabel), sizeof kPskLabel - 1, pbPsk,
                &nMac) != nullptr &&
           nMac == PSK_SIZE;
}
