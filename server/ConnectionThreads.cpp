#include "ConnectionThreads.h"

#include <unistd.h>

#include <iterator>

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
