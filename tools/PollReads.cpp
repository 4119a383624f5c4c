#include "PollReads.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "core/FrameDecode.h"
#include "transport/RemoteModbus.h"

namespace {

// Waits until tEnd in steps short enough for a stop (SIGINT, SIGTERM) to end it.
void SleepUntil(std::chrono::steady_clock::time_point tEnd, const std::atomic<bool>& bStop) {
    while (!bStop) {
        const auto tNow = std::chrono::steady_clock::now();
        if (tNow >= tEnd) {
            return;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(50), tEnd - tNow));
    }
}

// Connects a Modbus/TCP master again before a read once a failed exchange
// dropped its connection; without it every later read would fail at once.
// The pause before each try doubles up to the interval or 1 s, whichever is
// longer, so that a device that is gone is not hammered at interval 0.
class CReconnector {
public:
    // Null, or a master that connects for each exchange by itself: nothing to do.
    CReconnector(CRemoteModbus* pTcp, long nInterval)
        : m_pTcp(pTcp != nullptr && !pTcp->GetReconnect() ? pTcp : nullptr),
          m_nMaxPause(std::max(nInterval, 1000L)) {}

    bool Due() { return m_pTcp != nullptr && !m_pTcp->IsConnected(); }
    // The wait before a read that connects first: at least the interval.
    long Pause(long nInterval) const { return std::max(nInterval, m_nPause); }
    // Same host, port and time-out; a failure shows in the read that follows.
    void Connect() {
        m_pTcp->Connect(CString(), 0, 0);
        m_nPause = std::min(m_nPause * 2, m_nMaxPause);
    }
    void ReadSucceeded() { m_nPause = kFirstPause; }

private:
    static constexpr long kFirstPause = 50;
    CRemoteModbus* m_pTcp;
    long m_nMaxPause;
    long m_nPause = kFirstPause;
};

}  // namespace

int RunReads(std::vector<CReadJob>& jobs, size_t nConnection, CModbus* pModbus, CRemoteModbus* pTcp,
             long nCount, bool bOnce, const std::atomic<bool>& bStop, const ReadSink& sink) {
    long nLongest = 0;
    for (CReadJob& job : jobs) {
        job.settings.pModbus = pModbus;
        job.tDue = std::chrono::steady_clock::now();
        nLongest = std::max(nLongest, job.nInterval);
    }
    CReconnector reconnector(pTcp, nLongest);
    auto tLastEnd = std::chrono::steady_clock::now();
    bool bFirst = true;
    int nErrors = 0;
    while (!bStop) {
        CReadJob* pJob = nullptr;
        for (CReadJob& job : jobs) {
            if ((nCount < 0 || job.nDone < nCount) && (pJob == nullptr || job.tDue < pJob->tDue)) {
                pJob = &job;
            }
        }
        if (pJob == nullptr) {
            break;
        }
        // The first read follows the connection made at the start, or its failure.
        const bool bConnect = !bFirst && reconnector.Due();
        auto tStart = pJob->tDue;
        if (bConnect) {
            tStart = std::max(
                tStart, tLastEnd + std::chrono::milliseconds(reconnector.Pause(pJob->nInterval)));
        }
        SleepUntil(tStart, bStop);
        if (bStop) {
            break;
        }
        if (bConnect) {
            reconnector.Connect();
        }
        const auto tNow = std::chrono::system_clock::now();
        CReadResult result = ReadOnce(pJob->settings);
        result.strStatus = FrameDecode::NameExceptionStatus(result.strStatus, result.wStatus);
        ++pJob->nDone;
        bFirst = false;
        if (!result.Failed()) {
            reconnector.ReadSucceeded();
        } else {
            ++nErrors;
        }
        sink(nConnection, pJob->context,
             std::chrono::duration_cast<std::chrono::milliseconds>(tNow.time_since_epoch()).count(),
             result, pJob->statistics.AddCycle(result));
        if (bOnce && result.Failed()) {
            std::fprintf(stderr, "%s\n", result.strStatus.c_str());
        }
        tLastEnd = std::chrono::steady_clock::now();
        pJob->tDue = tLastEnd + std::chrono::milliseconds(pJob->nInterval);
    }
    return nErrors;
}
