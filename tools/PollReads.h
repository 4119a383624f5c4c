// The reads of one connection, each on its own schedule: the one due
// first runs next, a connection that a failure dropped is made again
// before the next read.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PollOutput.h"
#include "testview/PollStatistics.h"
#include "testview/ReadWrite.h"

class CRemoteModbus;

// One read of a connection, on its own schedule.
struct CReadJob {
    CReadSettings settings;  // without the master, which its connection gives
    CPollContext context;
    long nInterval = 1000;
    long nDone = 0;
    CPollStatistics statistics;
    std::chrono::steady_clock::time_point tDue{};
};

// Where each read goes: its connection's index, the read, its time, its
// result and its statistics line.
using ReadSink = std::function<void(size_t, const CPollContext&, std::int64_t, const CReadResult&,
                                    const std::string&)>;

// Runs the reads of one connection, each nCount times (-1: until bStop),
// the one due first each time; the number of failed reads. A read is due
// its interval after its last one ended; a connection that a failure
// dropped is made again before the next read, no sooner than a pause after
// the last one that doubles from 50 ms up to the longest interval or 1 s.
// With bOnce a failed read's status goes to standard error too.
int RunReads(std::vector<CReadJob>& jobs, size_t nConnection, CModbus* pModbus, CRemoteModbus* pTcp,
             long nCount, bool bOnce, const std::atomic<bool>& bStop, const ReadSink& sink);
