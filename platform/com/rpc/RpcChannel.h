// The client end of one connection to a server process. Any number of
// threads may call through it at once: each call waits for the answer with
// its own call id. One caller at a time reads the socket and hands over the
// answers of the others, so a lone caller is not woken by another thread; a
// watcher thread notices a server that goes away while nobody calls. When
// the connection dies every waiting call and every later one fails with
// RPC_E_DISCONNECTED at once; a call that outlives the call time-out gives
// up the connection (its answer could no longer be matched to anything).
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "RpcFrameReader.h"
#include "RpcSocket.h"

class CRpcChannel {
public:
    // Takes a connected socket past its handshake and starts reading it.
    // Each call is bounded by the calling thread's limit at the time.
    explicit CRpcChannel(CRpcSocket&& socket);
    // Closes the connection and waits for the reader thread.
    ~CRpcChannel();
    CRpcChannel(const CRpcChannel&) = delete;
    CRpcChannel& operator=(const CRpcChannel&) = delete;

    // Sends the request under a fresh call id and waits for the answer,
    // whose body (after type and call id) becomes *pAnswer. Returns S_OK, or
    // RPC_E_DISCONNECTED, or ERROR_TIMEOUT as an HRESULT.
    HRESULT Call(CRpcFrameWriter& request, CRpcFrameReader* pAnswer);
    // Sends a message that has no answer; nothing happens on a dead channel.
    void Post(CRpcFrameWriter& message);
    bool IsAlive();

private:
    struct CPendingCall {
        std::condition_variable m_cvDone;
        bool m_bDone = false;
        std::vector<BYTE> m_answer;
    };

    void Watch();
    // Reads one frame as the reader; with the lock held on return, the
    // answer handed to its caller. False when the connection has failed.
    bool ReadAnswer(std::unique_lock<std::mutex>& lock, const CDeadline& deadline);
    // Lets go of reading and wakes a caller that still waits to read.
    void StopReading();
    // Marks the channel dead and wakes every waiting call.
    void Fail();
    bool Send(CRpcFrameWriter& frame, const CDeadline& deadline);

    CRpcSocket m_socket;
    std::mutex m_sendMutex;
    std::mutex m_mutex;  // guards the fields below
    bool m_bDead = false;
    bool m_bReading = false;             // a thread reads the socket
    std::condition_variable m_cvReader;  // the watcher waits for reading to be free
    DWORD m_dwNextCallId = 1;
    // Shared with the waiting caller, so the reader can wake it after letting
    // go of the lock without the call's state vanishing under it.
    std::map<DWORD, std::shared_ptr<CPendingCall>> m_pending;
    std::thread m_watcher;
};
