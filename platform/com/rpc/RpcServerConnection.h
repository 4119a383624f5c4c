// The server end of one client connection: after the handshake (TLS for a
// remote client, see RpcTls.h), admission by the server and the exchange of
// greetings (the client's of this protocol version), its threads take
// turns reading frames in order. Releases are done at once. A call, query or
// activation that arrives while no other is running (a lone call) runs on the
// thread that read it, with no hand-off; one that arrives while others run
// goes to another thread (at most five in all), so a slow call does not hold
// up the others and answers may come back in any order. While a lone call
// runs nobody reads; when it lasts, an idle thread of the connection takes up
// reading within a few milliseconds. Every interface handed to the client is
// one entry in the connection's object table holding one reference; the
// entries still there when the connection ends are released then.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "RpcAccessKey.h"
#include "RpcInterfaceHandler.h"
#include "RpcSocket.h"
#include "platform/com/ComPtr.h"

class CRpcServer;

class CRpcServerConnection final : public CRpcObjectExporter {
public:
    // pKey null: a local connection, already checked to be this user's.
    // Otherwise a remote one from the IPv4 address, pending until its
    // ClientHello proved the key.
    CRpcServerConnection(CRpcServer& server, CRpcSocket&& socket, const CRpcAccessKey* pKey,
                         uint32_t nPeerAddress = 0);
    ~CRpcServerConnection();
    CRpcServerConnection(const CRpcServerConnection&) = delete;
    CRpcServerConnection& operator=(const CRpcServerConnection&) = delete;

    // Starts the connection's thread.
    void Start();
    // Makes the connection end; Join() waits for it.
    void Stop();
    void Join();
    bool IsFinished();
    bool IsRemote() const { return m_pKey != nullptr; }
    // A remote connection that has not proved the key yet.
    bool IsPending() const { return m_bPending; }
    // A pending connection whose peer has sent nothing yet.
    bool IsSilent() const;
    uint32_t GetPeerAddress() const { return m_nPeerAddress; }
    // Ends a pending connection to make room; it no longer counts as one.
    void Evict();
    void MarkAdmitted() { m_bPending = false; }
    bool IsEvicted() const { return m_bEvicted; }

    void PutInterface(CRpcFrameWriter& results, IUnknown* pItf, REFIID riid) override;

private:
    struct CExport {
        CComPtr<IUnknown> pItf;  // the interface, with the client's reference
        IID iid;
        CRpcInterfaceHandler* pHandler;
    };

    void Run();
    // The TLS handshake of a remote client, admitted as soon as its first
    // flight proved the key.
    bool Handshake();
    // What every thread of the connection does until it ends: calls from
    // the queue, reading when nobody does, else waiting.
    void Loop();
    // Reads frames as the connection's reader until it has run a lone call
    // or the connection ends; with the lock held on entry and return.
    void Read(std::unique_lock<std::mutex>& lock);
    // Runs a call that arrived with nothing queued and no call running on
    // this thread, after making sure another thread will take up reading;
    // with the lock held on entry and return.
    void RunLoneCall(std::unique_lock<std::mutex>& lock, std::vector<BYTE>& body);
    void End();
    void Handle(std::vector<BYTE>& body);
    void HandleCall(CRpcFrameReader& request, CRpcFrameWriter& answer);
    void HandleQuery(CRpcFrameReader& request, CRpcFrameWriter& answer);
    void HandleActivate(CRpcFrameReader& request, CRpcFrameWriter& answer);
    void HandleRelease(CRpcFrameReader& request);
    // Adds the interface (its reference taken over) to the table; 0 when
    // the table is full or the interface has no handler (then released).
    DWORD Export(IUnknown* pItf, REFIID riid);
    // The exported interface (exported as *piid unless null) with a
    // reference for the caller; null when there is none.
    IUnknown* Find(DWORD dwObjectId, const IID* piid, CRpcInterfaceHandler** ppHandler);
    void ReleaseAll();

    CRpcServer& m_server;
    CRpcSocket m_socket;
    const CRpcAccessKey* m_pKey;
    const uint32_t m_nPeerAddress;
    std::atomic<bool> m_bPending;
    std::atomic<bool> m_bEvicted{false};
    // Set before the first byte is taken from the socket.
    std::atomic<bool> m_bHeard{false};
    std::thread m_thread;
    std::mutex m_sendMutex;

    std::mutex m_mutex;  // guards the fields below
    std::condition_variable m_cvWork;
    std::condition_variable m_cvRoom;
    std::deque<std::vector<BYTE>> m_queue;
    std::vector<std::thread> m_workers;
    size_t m_nIdle = 0;          // threads waiting for something to do
    size_t m_nDeepSleepers = 0;  // of those, waiting without a time limit
    size_t m_nInCall = 0;        // threads running a request
    bool m_bReading = false;     // a thread reads (or waits for) the next frame
    // Since when nobody reads, and how many lone calls have started: what
    // idle threads look at to take up reading, or to stop looking.
    std::chrono::steady_clock::time_point m_readingFreeSince;
    unsigned long m_nLoneCalls = 0;
    bool m_bEnding = false;
    bool m_bFinished = false;
    std::map<DWORD, CExport> m_objects;
    DWORD m_dwNextObjectId = 1;
};
