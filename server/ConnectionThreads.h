// The serving threads of a TCP listener, one a connection: started as
// connections are accepted, joined and their sockets closed once they end.
// Used by the gateway and by the simulator's TCP side.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/WinTypes.h"

class CConnectionThreads {
public:
    class CConnection {
    public:
        int m_hSocket = -1;
        ULONGLONG m_nId = 0;
        std::atomic<bool> m_bDone{false};
        std::thread m_thread;
    };
    using Serve = std::function<void(CConnection& connection)>;

    CConnectionThreads() = default;
    CConnectionThreads(const CConnectionThreads&) = delete;
    CConnectionThreads& operator=(const CConnectionThreads&) = delete;
    ~CConnectionThreads() { Reap(true); }

    // Connections not yet reaped. Only the accepting thread starts and reaps,
    // so the count it reads cannot grow behind its back.
    size_t GetCount();
    // Runs serve on a thread of its own for hSocket, which it takes over.
    void Start(int hSocket, ULONGLONG nId, Serve serve);
    // Joins the threads that have ended (with bAll, every thread, which must
    // have been told to stop) and closes their sockets. The socket is closed
    // only after the join, so that its number cannot be reused meanwhile.
    void Reap(bool bAll);

private:
    std::mutex m_mutex;
    std::list<std::unique_ptr<CConnection>> m_connections;
};
