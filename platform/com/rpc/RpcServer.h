// The server side of out-of-process activation. A server program registers
// its class objects with CoRegisterClassObject(..., CLSCTX_LOCAL_SERVER, ...)
// and the proxy/stub handlers of its interfaces, then listens: on this
// user's local socket for the class, and only when asked, with a key file,
// on TCP. Clients activating the class get objects made by those class
// objects; calls run on worker threads, several at once, so the objects must
// be safe to call from any thread (or the server asks for one call at a
// time). Releasing an object (or the client going away) releases the
// server's reference.
//
// Places: local clients and remote clients that proved the key each have
// their own. A remote client proves the key with its first flight (the
// binder of its ClientHello) and takes its place then, before the rest of
// its handshake. Peers that have not proved it have a small budget of their
// own, per source address and in all; when it is spent the new peer takes
// the place of the one that has sent nothing for longest, or when all have
// sent something, of the one waiting longest. A flood of silent connections
// thus only ever replaces its own, and a client that sends its ClientHello
// as it connects is never evicted by one: it is heard before any newer
// silent peer is the oldest, and its place is safe once the key is proved.
//
// The counts below let a program started on demand (--activated) leave when
// nobody has used it for a while; the program decides how long.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RpcAccessKey.h"
#include "platform/UniqueFd.h"

class CRpcServerConnection;

class CRpcServer {
public:
    CRpcServer();
    // Stops serving.
    ~CRpcServer();
    CRpcServer(const CRpcServer&) = delete;
    CRpcServer& operator=(const CRpcServer&) = delete;

    // Listens on the local socket of the class. RPC_S_DUPLICATE_ENDPOINT
    // (0x800706CC) when a live server already holds it: a program started on
    // demand then leaves quietly. A socket file left by a dead server is
    // replaced.
    HRESULT ListenLocal(REFCLSID rclsid);
    // Listens on TCP at "address" or "address:port" (port 5135 when
    // missing, 0 for any) for clients that prove they hold the key in the
    // key file through TLS; *pnPort receives the port. E_ACCESSDENIED when
    // the key file is missing, malformed or readable by others.
    HRESULT ListenTcp(const char* pszAddress, const char* pszKeyFile, WORD* pnPort);
    // Closes the listeners and every connection, releasing every object.
    void Stop();
    // Objects that cannot take calls from several threads at once get them
    // one at a time, releases included (across every connection); a slow
    // call then holds up every other client. Set before listening.
    void SetOneCallAtATime(bool bOne) { m_bOneCallAtATime = bOne; }

    static constexpr size_t MAX_LOCAL = 64;
    static constexpr size_t MAX_REMOTE = 64;
    static constexpr size_t MAX_PENDING = 16;
    static constexpr size_t MAX_PENDING_PER_ADDRESS = 4;

    UINT GetConnectionCount() const { return m_nConnections; }
    UINT GetObjectCount() const { return static_cast<UINT>(m_nObjects.load()); }
    // Milliseconds since the last connection closed (or since the server was
    // made), 0 while a connection is open.
    DWORD GetIdleMillis() const;

private:
    friend class CRpcServerConnection;

    struct CListener {
        CUniqueFd hSocket;
        bool bLocal;
        std::string strPath;        // local: the socket file
        CUniqueFd hLock;            // local: held for as long as the socket is served
        const CRpcAccessKey* pKey;  // TCP: what clients must prove
    };

    void StartAccepting();
    void Accept();
    void AcceptOne(const CListener& listener);
    // Gives a connection that proved the key a remote client's place; false
    // when there is none left or it was evicted.
    bool Admit(CRpcServerConnection& connection);
    // Evicts a pending connection, from the address unless it is 0: the
    // oldest that has sent nothing, else the oldest; with m_mutex held.
    void EvictOldestPending(uint32_t nAddress);
    void Reap(bool bAll);
    void Wake();
    void ConnectionOpened();
    void ConnectionClosed();
    void ObjectsChanged(int nDelta) { m_nObjects += nDelta; }
    // Held while a connection calls into the server's objects.
    std::unique_lock<std::mutex> EnterObjects();

    std::mutex m_mutex;  // guards the listeners, keys, connections and thread
    std::vector<std::unique_ptr<CRpcAccessKey>> m_keys;
    // Each stays where it is until Stop, after the acceptor has finished:
    // the acceptor polls them through plain pointers.
    std::vector<std::unique_ptr<CListener>> m_listeners;
    std::vector<std::unique_ptr<CRpcServerConnection>> m_connections;
    std::thread m_acceptor;
    CUniqueFd m_hWakeRead;  // the acceptor's wake-up pipe
    CUniqueFd m_hWakeWrite;
    std::atomic<bool> m_bStopping{false};
    std::atomic<bool> m_bOneCallAtATime{false};
    std::mutex m_objectsMutex;
    std::atomic<UINT> m_nConnections{0};
    std::atomic<int> m_nObjects{0};
    std::atomic<std::chrono::steady_clock::rep> m_idleSince;
};
