#include "BackgroundJob.h"

#include <sys/eventfd.h>

#include <cstdint>
#include <system_error>
#include <thread>

CBackgroundJob::CBackgroundJob(Work work)
    : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_work(std::move(work)) {}

std::shared_ptr<CBackgroundJob> CBackgroundJob::Start(Work work) {
    std::shared_ptr<CBackgroundJob> pJob(new CBackgroundJob(std::move(work)));
    try {
        // Detached: the thread holds the job itself, and an application that
        // ends meanwhile must not wait out a connection's time-out.
        std::thread([pJob] { pJob->Run(); }).detach();
    } catch (const std::system_error&) {
        pJob->Run();
    }
    return pJob;
}

void CBackgroundJob::Run() {
    m_work(*this);
    m_bDone.store(true, std::memory_order_release);
    Wake();
}

void CBackgroundJob::Wake() {
    if (m_wake) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake.Get(), &one, sizeof one);
    }
}

void CBackgroundJob::TakeWake() {
    if (m_wake) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(m_wake.Get(), &count, sizeof count);
    }
}
