// The shared secret of remote activation and the challenge-response
// handshake built on it. Each side proves it knows the key with an
// HMAC-SHA256 over both sides' random nonces; the key never crosses the wire.
#pragma once

#include <string>
#include <vector>

#include "RpcSocket.h"

class CRpcAccessKey {
public:
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

    // On a fresh connection, within nMillis. The client gets E_ACCESSDENIED
    // when either side's proof fails and RPC_S_SERVER_UNAVAILABLE when the
    // peer does not speak the protocol or goes away.
    HRESULT ClientHandshake(CRpcSocket& socket, int nMillis) const;
    HRESULT ServerHandshake(CRpcSocket& socket, int nMillis) const;

private:
    // HMAC over the label and both nonces.
    void Prove(const char* pszLabel, const BYTE* pbServerNonce, const BYTE* pbClientNonce,
               BYTE* pbMac) const;

    std::vector<BYTE> m_key;
};
