// TLS 1.3 over one TCP connection of the remoting layer, keyed by the shared
// access key as an external pre-shared key: both ends prove they hold it in
// the handshake, and every byte after it is encrypted and authenticated, a
// tampered, replayed or injected record ending the connection. No
// certificates are involved: the key is all either end trusts.
//
// The socket stays non-blocking; reads and writes say which event to wait
// for. One thread may read while another writes: calls into the TLS state
// are serialised inside.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <mutex>

#include "platform/com/ComBase.h"

struct ssl_st;
class CRpcAccessKey;

class CRpcTls {
public:
    ~CRpcTls();
    CRpcTls(const CRpcTls&) = delete;
    CRpcTls& operator=(const CRpcTls&) = delete;

    // Runs the handshake on the connected socket within nMillis. The server
    // reads at most nMaxHandshakeBytes from the peer before the handshake is
    // through. The client gets E_ACCESSDENIED when the server refused its
    // key and RPC_S_SERVER_UNAVAILABLE_HR when the peer does not complete
    // the handshake or goes away; the server gets E_ACCESSDENIED for either.
    // On the server, keyProved (when given) is called once, as soon as the
    // peer's ClientHello has proved the key (OpenSSL checks its binder while
    // reading it), before the rest of the handshake; false from it ends the
    // handshake there.
    static std::unique_ptr<CRpcTls> Handshake(int hSocket, const CRpcAccessKey& key, bool bServer,
                                              int nMillis, size_t nMaxHandshakeBytes, HRESULT* phr,
                                              const std::function<bool()>& keyProved = {});

    // As recv and send on the non-blocking socket: the count of bytes done;
    // 0 when the connection is over (closed, or a record failed its checks);
    // -1 when it would block, *pEvents then saying what to wait for.
    ssize_t Read(BYTE* pb, size_t n, short* pEvents);
    ssize_t Write(const BYTE* pb, size_t n, short* pEvents);
    // True when Read would not wait for the socket: bytes already taken off
    // it are held (reads take whatever has arrived), or a failure is yet to
    // be reported.
    bool HasPending();

    // What the socket layer under the TLS state keeps (defined with it).
    struct CBioState;

private:
    CRpcTls() = default;
    ssize_t Finish(int rc, size_t nDone, short* pEvents);

    std::mutex m_mutex;
    ssl_st* m_pSsl = nullptr;
    bool m_bFailed = false;
    std::unique_ptr<CBioState> m_pBio;
};
