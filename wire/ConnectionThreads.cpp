#include "ConnectionThreads.h"

#include <sys/socket.h>
#include <unistd.h>

#include <iterator>

namespace {
// For one that never spoke the last activity is its opening.
bool MakesRoomBefore(const CConnectionThreads::CConnection& a,
                     const CConnectionThreads::CConnection& b) {
    if (a.m_bSpoken != b.m_bSpoken) {
        return !a.m_bSpoken;
    }
    return a.m_lastActive < b.m_lastActive;
}
}  // namespace

size_t CConnectionThreads::GetCount() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_connections.size();
}

void CConnectionThreads::Start(int hSocket, ULONGLONG nId, Serve serve) {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto pConnection = std::make_unique<CConnection>();
    pConnection->m_hSocket = hSocket;
    pConnection->m_nId = nId;
    CConnection* p = pConnection.get();
    m_connections.push_back(std::move(pConnection));
    p->m_thread = std::thread([p, serve = std::move(serve)] {
        serve(*p);
        p->m_bDone = true;
    });
}

void CConnectionThreads::Reap(bool bAll) {
    std::list<std::unique_ptr<CConnection>> ended;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            auto next = std::next(it);
            if (bAll || (*it)->m_bDone) {
                ended.splice(ended.end(), m_connections, it);
            }
            it = next;
        }
    }
    for (auto& pConnection : ended) {
        pConnection->m_thread.join();
        ::close(pConnection->m_hSocket);
    }
}

size_t CConnectionThreads::DropIdle(std::chrono::milliseconds idle, bool bMakeRoom) {
    using Clock = std::chrono::steady_clock;
    const Clock::rep now = Clock::now().time_since_epoch().count();
    const Clock::rep limit = std::chrono::duration_cast<Clock::duration>(idle).count();
    std::lock_guard<std::mutex> guard(m_mutex);
    CConnection* pOldest = nullptr;
    size_t nLeft = 0;
    for (auto& pConnection : m_connections) {
        CConnection& c = *pConnection;
        const bool bIdle = !c.m_bBusy && !c.m_bDone && !c.m_bDropped;
        if (bIdle && limit > 0 && now - c.m_lastActive > limit) {
            c.m_bDropped = true;
        } else if (bIdle && (pOldest == nullptr || MakesRoomBefore(c, *pOldest))) {
            pOldest = &c;
        }
        if (!c.m_bDropped && !c.m_bDone) {
            ++nLeft;
        }
    }
    if (bMakeRoom && pOldest != nullptr) {
        pOldest->m_bDropped = true;
        --nLeft;
    }
    for (auto& pConnection : m_connections) {
        // The serving thread sees the end of its stream and finishes; the
        // descriptor stays open until the thread is joined.
        if (pConnection->m_bDropped && !pConnection->m_bDone) {
            ::shutdown(pConnection->m_hSocket, SHUT_RDWR);
        }
    }
    return nLeft;
}
