#include "SyncObjects.h"

BOOL CCriticalSection::Lock(DWORD) {
    m_mutex.lock();
    return TRUE;
}

BOOL CCriticalSection::Unlock() {
    m_mutex.unlock();
    return TRUE;
}

CEvent::CEvent(BOOL bInitiallyOwn, BOOL bManualReset)
    : m_bSignalled(bInitiallyOwn != FALSE), m_bManualReset(bManualReset != FALSE) {}

BOOL CEvent::SetEvent() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bSignalled = true;
    }
    if (m_bManualReset) {
        m_cond.notify_all();
    } else {
        m_cond.notify_one();
    }
    return TRUE;
}

BOOL CEvent::ResetEvent() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_bSignalled = false;
    return TRUE;
}

BOOL CEvent::Lock(DWORD dwTimeout) {
    std::unique_lock<std::mutex> guard(m_mutex);
    auto ready = [this] { return m_bSignalled; };
    if (dwTimeout == INFINITE) {
        m_cond.wait(guard, ready);
    } else if (dwTimeout == 0) {
        // A look, not a wait: no sleep, no system call.
        if (!m_bSignalled) {
            return FALSE;
        }
    } else if (!m_cond.wait_for(guard, std::chrono::milliseconds(dwTimeout), ready)) {
        return FALSE;
    }
    if (!m_bManualReset) {
        m_bSignalled = false;
    }
    return TRUE;
}

CSingleLock::CSingleLock(CSyncObject* pObject, BOOL bInitialLock) : m_pObject(pObject) {
    if (bInitialLock) {
        Lock();
    }
}

CSingleLock::~CSingleLock() {
    Unlock();
}

BOOL CSingleLock::Lock(DWORD dwTimeout) {
    if (!m_bAcquired) {
        m_bAcquired = m_pObject->Lock(dwTimeout);
    }
    return m_bAcquired;
}

BOOL CSingleLock::Unlock() {
    if (m_bAcquired) {
        m_bAcquired = !m_pObject->Unlock();
    }
    return !m_bAcquired;
}
