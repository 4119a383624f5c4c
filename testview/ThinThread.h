// A small worker thread: waits up to an interval, does one cycle of work,
// and goes on until asked to stop. A derived class supplies the hooks.
#pragma once

#include <atomic>
#include <thread>

#include "platform/SyncObjects.h"

class CThinThread {
public:
    CThinThread();
    // Does not stop a worker: a derived class stops and waits for its worker
    // in its own destructor, while its hooks still exist.
    virtual ~CThinThread();
    CThinThread(const CThinThread&) = delete;
    CThinThread& operator=(const CThinThread&) = delete;

    // Starts the worker at once; the flags, stack size and security
    // attributes are accepted as given and change nothing here. FALSE, with
    // m_bRunning FALSE, when no thread could be made.
    BOOL StartThread(DWORD dwCreateFlags, UINT nStackSize, void* lpSecurityAttrs, DWORD dwInterval);
    // Asks the worker to end and wakes it from its wait, so that it ends
    // right after the cycle in progress.
    void StopThread();
    // Waits until a worker that was asked to stop has ended. The hooks never
    // wait for the caller, so this returns once the cycle in progress is done.
    void WaitThread();

    static unsigned ThreadProc(void* pParam);
    void Run();

    CEvent* m_pWakeEvent;
    CEvent* m_pExitEvent;
    std::atomic<DWORD> m_dwInterval{0};
    std::atomic<BOOL> m_bStop{FALSE};
    std::atomic<BOOL> m_bRunning{FALSE};
    std::thread m_hThread;

protected:
    virtual void StartWork() {}
    virtual void DoWork() = 0;
    virtual void EndWork() {}
    // The worker's very last step, after m_bRunning went FALSE.
    virtual void ThreadEnded() {}
};
