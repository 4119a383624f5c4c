// Work that would hold up the GUI thread (connecting, reaching a server) run
// on a thread of its own. The thread shares ownership of the job, so an owner
// that gives up only drops its reference: the thread ends with what the job
// owns and touches nothing else, and nobody ever waits for it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/UniqueFd.h"

class CBackgroundJob {
public:
    using Work = std::function<void(CBackgroundJob&)>;

    // Runs work on a new thread; on the caller's thread when none can be had.
    static std::shared_ptr<CBackgroundJob> Start(Work work);

    CBackgroundJob(const CBackgroundJob&) = delete;
    CBackgroundJob& operator=(const CBackgroundJob&) = delete;

    // Readable after each Wake and once the work has ended; -1 when the
    // system gave no descriptor (then only IsDone tells).
    int GetWakeFd() const { return m_wake.Get(); }
    // Empties the wake descriptor.
    void TakeWake();
    // What the work left behind may be read once this holds.
    bool IsDone() const { return m_bDone.load(std::memory_order_acquire); }

    // The owner has gone; the work may stop early.
    void Abandon() { m_bAbandoned.store(true); }
    bool IsAbandoned() const { return m_bAbandoned.load(); }
    // The work tells its owner of progress.
    void Wake();

private:
    explicit CBackgroundJob(Work work);
    void Run();

    CUniqueFd m_wake;
    Work m_work;
    std::atomic<bool> m_bDone{false};
    std::atomic<bool> m_bAbandoned{false};
};
