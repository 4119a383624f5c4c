// A test window's value log: one CSV line per completed cycle, written to a
// file on a thread of its own so that a slow disk never holds up a read.
// Lines queue in memory until written; closing writes every queued line
// first. A failed write ends logging and keeps its message for the window.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/UniqueFd.h"
#include "platform/WinTypes.h"

struct CReadResult;

// "2026-12-07T14:09:01.123Z" for milliseconds since 1970.
CString FormatUtcTime(std::int64_t nUnixMillis);
// A read's time as its milliseconds with three decimals: "12.345".
CString FormatReadMillis(std::uint64_t qwMicros);
// One cycle's line without its end of line: "2026-12-07T14:09:01.123Z,..."
// in the header's columns, then the rows as shown, one field each.
CString FormatLogLine(std::int64_t nUnixMillis, const CString& strConnection,
                      const CString& strDevice, const CString& strFunction,
                      const CString& strStatus, std::uint64_t qwMicros,
                      const std::vector<CString>& rows);
extern const char* const g_szLogHeader;
// A field as CSV takes it: quoted, with quotes doubled, when it needs to be.
CString CsvField(const CString& str);

class CValueLog {
public:
    CValueLog() = default;
    ~CValueLog();
    CValueLog(const CValueLog&) = delete;
    CValueLog& operator=(const CValueLog&) = delete;

    // Opens for appending, with the header when the file is new or empty;
    // false with strError set when it cannot be opened.
    bool Open(const CString& strPath, CString& strError);
    // Queues one line; nothing when the log is not open or has failed.
    void Append(CString strLine);
    // Writes whatever is queued, then closes. Safe to call when closed.
    void Close();

    bool IsOpen() const;
    // The message of a write that failed since the last Open, once: taken,
    // it is empty until the next failure.
    CString TakeError();

    static constexpr size_t BATCH_LINES = 4096;
    static constexpr std::chrono::milliseconds WRITE_SPACING{100};

private:
    void Run();
    bool WriteAll(const CString& str);

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<CString> m_queue;
    std::thread m_writer;
    CUniqueFd m_hFile;
    bool m_bOpen = false;  // accepting lines
    bool m_bStop = false;
    CString m_strError;
    CString m_strPath;
};
