// The shared secret of remote activation, read from a private key file.
// Connections are keyed with it through TLS (RpcTls.h); the key itself never
// crosses the wire.
#pragma once

#include <string>
#include <vector>

#include "platform/com/ComBase.h"

class CRpcAccessKey {
public:
    // Bytes of the key TLS is given: derived from the file's key, so that
    // the file's key serves this purpose only.
    static constexpr size_t PSK_SIZE = 32;

    CRpcAccessKey() = default;
    ~CRpcAccessKey();
    CRpcAccessKey(const CRpcAccessKey&) = delete;
    CRpcAccessKey& operator=(const CRpcAccessKey&) = delete;

    // Reads a key file: 32 to 128 hexadecimal digits (16 to 64 bytes), white
    // space around them ignored. The file must be a regular file of this user
    // that nobody else may read or write; otherwise, or when it is missing or
    // malformed, E_ACCESSDENIED.
    HRESULT Load(const std::string& strPath);
    bool IsLoaded() const { return !m_key.empty(); }

    // The key TLS uses; false without a key.
    bool DerivePsk(BYTE* pbPsk) const;

private:
    std::vector<BYTE> m_key;
};
