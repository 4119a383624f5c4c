// How long this machine takes to wake a blocked thread: what every hand-over
// between threads or processes costs here, whatever the code above it does.
// A partner thread (eventfd) and a partner process (socketpair) echo one
// message back; half a round trip is one wake-up, poll and read included, as
// the remoting's waits are. Measured back to back and after an idle pause,
// when the CPU may have gone into an idle state and its caches cooled. Both
// partners inherit the caller's CPU pinning.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <thread>
#include <vector>

class CWakeUpProbe {
public:
    enum EPartner { THREAD, PROCESS, PARTNER_COUNT };
    enum EPace { BACK_TO_BACK, AFTER_PAUSE, PACE_COUNT };

    CWakeUpProbe() = default;
    // Ends and reaps the partners.
    ~CWakeUpProbe();
    CWakeUpProbe(const CWakeUpProbe&) = delete;
    CWakeUpProbe& operator=(const CWakeUpProbe&) = delete;

    // Starts the partner thread and process; false when either cannot be.
    bool Start();
    // n round trips with each partner, the pause before each one when
    // pacing AFTER_PAUSE; false when a partner stopped answering.
    bool Measure(int n, std::chrono::microseconds pause);

    // One-way times in microseconds so far.
    const std::vector<double>& Samples(EPartner partner, EPace pace) const {
        return m_samples[partner][pace];
    }

private:
    // One round trip through the pair of descriptors; -1 on failure.
    static double RoundTripMicros(int hOut, int hIn);

    int m_hToThread = -1;
    int m_hFromThread = -1;
    int m_hProcess = -1;
    pid_t m_pid = -1;
    std::thread m_thread;
    std::vector<double> m_samples[PARTNER_COUNT][PACE_COUNT];
};
