// How the server's threads are scheduled. A client that wakes one of them
// with a request waits for the answer right after, so the thread need not
// preempt it: as SCHED_BATCH threads they let it reach its wait first. The
// tty work that the exchange then causes stays on the one CPU in use; with
// the client preempted and still runnable beside the server, the kernel ran
// it on another CPU that had to leave an idle state first, which cost an
// idle virtual machine tens of microseconds an exchange. A batch thread
// preempts nothing, though: on a CPU kept busy by another program it would
// wait up to a scheduler tick whenever it is woken. A thread that waited
// that long in exchange after exchange returns to ordinary scheduling for a
// while, a longer one each time batch scheduling fails again soon.
#pragma once

class CThreadScheduling {
public:
    // Makes the calling thread, and every thread it starts from now on, a
    // batch thread. False (nothing changed) when the system does not allow
    // it or does not tell how long a thread waits to run.
    static bool Start();
    // Around an exchange, on its thread: Before gives what After takes, and
    // false when there is nothing to watch (not started, nothing to read).
    // After makes the thread ordinary for a while when it waited too long to
    // run in this exchange and the one before, and a batch thread again once
    // that while is over. Only threads that were batch threads at their
    // first exchange are watched; others are left as they are.
    static bool BeforeExchange(unsigned long long* pnRunDelay);
    static void AfterExchange(unsigned long long nRunDelayBefore);
};
