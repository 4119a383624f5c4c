#include "ThinThread.h"

#include <system_error>

CThinThread::CThinThread()
    : m_pWakeEvent(new CEvent(FALSE, FALSE)), m_pExitEvent(new CEvent(TRUE, TRUE)) {}

CThinThread::~CThinThread() {
    // A worker left behind by a derived class would use freed hooks; the
    // derived destructor has waited, so this only reaps the thread.
    if (m_hThread.joinable()) {
        m_bStop = TRUE;
        m_pWakeEvent->SetEvent();
        m_hThread.join();
    }
    delete m_pWakeEvent;
    delete m_pExitEvent;
}

BOOL CThinThread::StartThread(DWORD, UINT, void*, DWORD dwInterval) {
    // The previous worker has passed its last step (m_bRunning is FALSE);
    // only its thread remains to be reaped.
    if (m_hThread.joinable()) {
        m_hThread.join();
    }
    m_bRunning = TRUE;
    m_bStop = FALSE;
    m_dwInterval = dwInterval;
    m_pExitEvent->ResetEvent();
    // A wake-up meant for the previous worker must not cut this one's first wait.
    m_pWakeEvent->ResetEvent();
    try {
        m_hThread = std::thread(&CThinThread::ThreadProc, this);
    } catch (const std::system_error&) {
        m_bRunning = FALSE;
        m_pExitEvent->SetEvent();
        return FALSE;
    }
    return TRUE;
}

void CThinThread::StopThread() {
    m_bStop = TRUE;
    m_pWakeEvent->SetEvent();
}

void CThinThread::WaitThread() {
    if (m_hThread.joinable()) {
        m_hThread.join();
    }
}

unsigned CThinThread::ThreadProc(void* pParam) {
    static_cast<CThinThread*>(pParam)->Run();
    return 0;
}

void CThinThread::Run() {
    CSingleLock lock(m_pWakeEvent);
    StartWork();
    while (!m_bStop) {
        if (lock.Lock(m_dwInterval)) {
            lock.Unlock();
        }
        if (m_bStop) {
            break;
        }
        DoWork();
    }
    EndWork();
    m_pExitEvent->SetEvent();
    m_bRunning = FALSE;
    ThreadEnded();
}
