// The serving threads of a TCP listener, one a connection: started as
// connections are accepted, joined and their sockets closed once they end.
// Used by the gateway and by the simulator's TCP side.
#pragma once

#include <atomic>
#include <chrono>
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
        // Kept by a server that drops idle clients: when the connection last
        // finished a request (or opened), whether it ever sent one, whether
        // it is in one now, and whether it was told to go.
        std::atomic<std::chrono::steady_clock::rep> m_lastActive{
            std::chrono::steady_clock::now().time_since_epoch().count()};
        std::atomic<bool> m_bSpoken{false};
        std::atomic<bool> m_bBusy{false};
        std::atomic<bool> m_bDropped{false};
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
    // Shuts down, without waiting, every connection idle for longer than
    // idle (none when it is zero), and with bMakeRoom one more: the oldest
    // of those that never sent a request, else the one idle longest. A
    // master between two polls is thus never dropped for a connection that
    // only opened. Returns how many connections are left that were not
    // dropped.
    size_t DropIdle(std::chrono::milliseconds idle, bool bMakeRoom);

private:
    std::mutex m_mutex;
    std::list<std::unique_ptr<CConnection>> m_connections;
};
