// The poll worker, the statistics line and the value list's rules, without
// a window.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "tests/support/Timing.h"
#include "testview/PollStatistics.h"
#include "testview/ReadWrite.h"
#include "testview/RowList.h"
#include "testview/ThinThread.h"

namespace {
using namespace std::chrono;
using Rows = std::vector<CString>;

CReadResult Read(ULONGLONG qwMicros, WORD wStatus = 0) {
    CReadResult r;
    r.bRead = TRUE;
    r.wStatus = wStatus;
    r.qwMicros = qwMicros;
    r.dwElapsed = DWORD(qwMicros / 1000);
    return r;
}

TEST(PollStatistics, RateOfTheLastReadAndOfTheLastTenOnEveryTenthCycle) {
    CPollStatistics s;
    EXPECT_EQ(s.AddCycle(Read(20000)), "1 Errors=0  50.00(Up./s) ");
    for (int i = 2; i <= 9; ++i) {
        s.AddCycle(Read(25000, i == 5 ? 1 : 0));
    }
    // Ten reads of 250 ms in all.
    EXPECT_EQ(s.AddCycle(Read(30000)), "10 Errors=1  40.00(Up./s) ");
    EXPECT_EQ(s.AddCycle(Read(8000)), "11 Errors=1  125.00(Up./s) ");
    // A read under a millisecond has a finite rate.
    EXPECT_EQ(s.AddCycle(Read(250)), "12 Errors=1  4000.00(Up./s) ");
    EXPECT_EQ(s.AddCycle(Read(0)), "13 Errors=1  999999.94(Up./s) ");
    s.Reset();
    EXPECT_EQ(s.AddCycle(Read(1000, 0x8002)), "1 Errors=1  1000.00(Up./s) ");
}

TEST(PollStatistics, ACycleThatReadNothingCountsButAddsNoTime) {
    CPollStatistics s;
    for (int i = 1; i <= 9; ++i) {
        s.AddCycle(i == 3 ? CReadResult() : Read(10000));
    }
    EXPECT_EQ(s.AddCycle(Read(10000)), "10 Errors=0  111.11(Up./s) ");
    EXPECT_EQ(s.m_dwTotalTime, 0u);
}

CRowList List(int nRows, int nSel) {
    CRowList list;
    for (int i = 0; i < nRows; ++i) {
        list.rows.push_back("old" + std::to_string(i));
    }
    list.nSel = nSel;
    return list;
}

Rows NewRows(int n) {
    Rows rows;
    for (int i = 0; i < n; ++i) {
        rows.push_back("new" + std::to_string(i));
    }
    return rows;
}

TEST(RowList, RowsAreReplacedInPlaceAndTrimmedToTheQuantity) {
    CRowList list = List(20, -1);
    ApplyListUpdate(list, MakeListUpdate(NewRows(10), true, 10));
    EXPECT_EQ(list.rows, NewRows(10));

    // The loop-back test keeps the first Quantity rows as they were.
    list = List(4, 3);
    ApplyListUpdate(list, MakeListUpdate({}, false, 10));
    EXPECT_EQ(list.rows.size(), 4u);
    EXPECT_EQ(list.nSel, 3);
    list = List(12, 0);
    ApplyListUpdate(list, MakeListUpdate({}, false, 10));
    EXPECT_EQ(list.rows, List(10, 0).rows);
    EXPECT_EQ(list.nSel, 0);
}

TEST(RowList, SelectionPastTheFirstRowIsRestoredTheFirstRowIsNot) {
    CRowList list = List(10, 3);
    ApplyListUpdate(list, MakeListUpdate(NewRows(4), true, 4));
    EXPECT_EQ(list.nSel, 3);
    ApplyListUpdate(list, MakeListUpdate(NewRows(3), true, 3));
    EXPECT_EQ(list.nSel, -1);
    list = List(10, 0);
    ApplyListUpdate(list, MakeListUpdate(NewRows(10), true, 10));
    EXPECT_EQ(list.nSel, -1);
}

// The window draws only the latest of several cycles; merging them must
// give the list that applying each in turn gives.
TEST(RowList, MergedUpdatesGiveWhatEachInTurnGives) {
    std::mt19937 random(12345);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    for (int round = 0; round < 3000; ++round) {
        const int nStart = pick(12);
        CRowList sequential = List(nStart, pick(nStart + 1) - 1);
        CRowList merged = sequential;
        CListUpdate pending;
        const int nUpdates = 1 + pick(5);
        for (int k = 0; k < nUpdates; ++k) {
            const int nQuantity = pick(12);
            const bool bRows = pick(3) != 0;
            Rows rows;
            for (int i = 0; bRows && i < nQuantity; ++i) {
                rows.push_back(std::to_string(round) + "." + std::to_string(k) + "." +
                               std::to_string(i));
            }
            CListUpdate update = MakeListUpdate(rows, bRows, nQuantity);
            ApplyListUpdate(sequential, update);
            MergeListUpdate(pending, std::move(update));
        }
        ApplyListUpdate(merged, pending);
        ASSERT_EQ(merged.rows, sequential.rows) << "round " << round;
        ASSERT_EQ(merged.nSel, sequential.nSel) << "round " << round;
    }
}

class CCountingThread : public CThinThread {
public:
    ~CCountingThread() override {
        StopThread();
        WaitThread();
    }
    std::atomic<int> m_nCycles{0};
    std::atomic<int> m_nStarts{0};
    std::atomic<int> m_nEnds{0};
    std::atomic<bool> m_bOnWorker{true};
    std::thread::id m_owner = std::this_thread::get_id();
    steady_clock::time_point m_firstCycle;

protected:
    void StartWork() override {
        ++m_nStarts;
        m_bOnWorker = m_bOnWorker && std::this_thread::get_id() != m_owner;
    }
    void DoWork() override {
        if (m_nCycles++ == 0) {
            m_firstCycle = steady_clock::now();
        }
    }
    void EndWork() override { ++m_nEnds; }
};

TEST(ThinThread, FirstCycleAfterOneIntervalAndIntervalZeroBackToBack) {
    CCountingThread thread;
    const auto start = steady_clock::now();
    ASSERT_TRUE(thread.StartThread(0, 0, nullptr, 200));
    EXPECT_TRUE(thread.m_bRunning);
    ASSERT_TRUE(WaitUntil([&] { return thread.m_nCycles > 0; }));
    EXPECT_GE(thread.m_firstCycle - start, milliseconds(190));
    thread.m_dwInterval = 0;  // taken at the next wait
    EXPECT_TRUE(WaitUntil([&] { return thread.m_nCycles > 1000; }));
    thread.StopThread();
    thread.WaitThread();
    EXPECT_FALSE(thread.m_bRunning);
    EXPECT_EQ(thread.m_nStarts, 1);
    EXPECT_EQ(thread.m_nEnds, 1);
    EXPECT_TRUE(thread.m_bOnWorker);
}

TEST(ThinThread, AStopEndsALongWaitAtOnceAndARestartCountsAfresh) {
    CCountingThread thread;
    ASSERT_TRUE(thread.StartThread(0, 0, nullptr, 10000));
    std::this_thread::sleep_for(milliseconds(50));
    const auto stop = steady_clock::now();
    thread.StopThread();
    ASSERT_TRUE(WaitUntil([&] { return !thread.m_bRunning; }, 2000));
    EXPECT_LT(steady_clock::now() - stop, milliseconds(500));
    EXPECT_EQ(thread.m_nCycles, 0);
    EXPECT_TRUE(thread.m_pExitEvent->Lock(0));
    // The wake-up of the stop does not shorten the next worker's first wait.
    ASSERT_TRUE(thread.StartThread(0, 0, nullptr, 300));
    std::this_thread::sleep_for(milliseconds(150));
    EXPECT_EQ(thread.m_nCycles, 0);
    EXPECT_FALSE(thread.m_pExitEvent->Lock(0));
    EXPECT_TRUE(WaitUntil([&] { return thread.m_nCycles > 0; }));
    EXPECT_EQ(thread.m_nStarts, 2);
}
}  // namespace
