// Critical section, event and single lock with the framework's meaning.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "WinTypes.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;

class CSyncObject {
public:
    virtual ~CSyncObject() = default;
    virtual BOOL Lock(DWORD dwTimeout = INFINITE) = 0;
    virtual BOOL Unlock() = 0;
};

// Re-entrant for the owning thread. Like the framework's critical section,
// Lock ignores the wait it is given: it blocks until the section is free and
// reports success.
class CCriticalSection : public CSyncObject {
public:
    BOOL Lock(DWORD dwTimeout = INFINITE) override;
    BOOL Unlock() override;

private:
    std::recursive_timed_mutex m_mutex;
};

// Manual- or auto-reset event; Lock waits for it to be signalled.
class CEvent : public CSyncObject {
public:
    explicit CEvent(BOOL bInitiallyOwn = FALSE, BOOL bManualReset = FALSE);
    BOOL SetEvent();
    BOOL ResetEvent();
    // TRUE when signalled within dwTimeout milliseconds.
    BOOL Lock(DWORD dwTimeout = INFINITE) override;
    BOOL Unlock() override { return TRUE; }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_bSignalled;
    bool m_bManualReset;
};

class CSingleLock {
public:
    explicit CSingleLock(CSyncObject* pObject, BOOL bInitialLock = FALSE);
    ~CSingleLock();
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    BOOL Lock(DWORD dwTimeout = INFINITE);
    BOOL Unlock();
    BOOL IsLocked() const { return m_bAcquired; }

private:
    CSyncObject* m_pObject;
    BOOL m_bAcquired = FALSE;
};
