#include "ValueLog.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const g_szLogHeader = "time,connection,device,function,status,read_ms,values";

CString CsvField(const CString& str) {
    if (str.find_first_of(",\"\r\n") == CString::npos) {
        return str;
    }
    CString strOut = "\"";
    for (char ch : str) {
        if (ch == '"') {
            strOut += '"';
        }
        strOut += ch;
    }
    return strOut + "\"";
}

CString FormatUtcTime(std::int64_t nUnixMillis) {
    const std::time_t t = std::time_t(nUnixMillis / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char szTime[40];
    const size_t n = std::strftime(szTime, sizeof szTime, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(szTime + n, sizeof szTime - n, ".%03dZ", int(nUnixMillis % 1000));
    return szTime;
}

CString FormatReadMillis(std::uint64_t qwMicros) {
    char sz[32];
    std::snprintf(sz, sizeof sz, "%.3f", double(qwMicros) / 1000.0);
    return sz;
}

CString FormatLogLine(std::int64_t nUnixMillis, const CString& strConnection,
                      const CString& strDevice, const CString& strFunction,
                      const CString& strStatus, std::uint64_t qwMicros,
                      const std::vector<CString>& rows) {
    CString strLine = FormatUtcTime(nUnixMillis);
    for (const CString* p : {&strConnection, &strDevice, &strFunction, &strStatus}) {
        strLine += ',';
        strLine += CsvField(*p);
    }
    strLine += ',';
    strLine += FormatReadMillis(qwMicros);
    for (const CString& row : rows) {
        strLine += ',';
        strLine += CsvField(row);
    }
    return strLine;
}

CValueLog::~CValueLog() {
    Close();
}

bool CValueLog::Open(const CString& strPath, CString& strError) {
    Close();
    // A file grown past the process's size limit must fail the write, not
    // end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    CUniqueFd hFile(::open(strPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!hFile) {
        strError = "Cannot open " + strPath + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    const bool bNew = ::fstat(hFile.Get(), &st) == 0 && st.st_size == 0;
    std::lock_guard<std::mutex> lock(m_lock);
    m_hFile = std::move(hFile);
    m_strPath = strPath;
    m_strError.clear();
    m_queue.clear();
    if (bNew) {
        m_queue.push_back(CString(g_szLogHeader) + "\n");
    }
    m_bOpen = true;
    m_bStop = false;
    m_writer = std::thread([this] { Run(); });
    return true;
}

void CValueLog::Append(CString strLine) {
    strLine += '\n';
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_bOpen) {
            return;
        }
        m_queue.push_back(std::move(strLine));
        if (m_queue.size() < BATCH_LINES) {
            return;  // the writer comes round on its own soon enough
        }
    }
    m_wake.notify_one();
}

void CValueLog::Close() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bOpen = false;
        m_bStop = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable()) {
        m_writer.join();
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_hFile.Reset();
    m_queue.clear();
}

bool CValueLog::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bOpen;
}

CString CValueLog::TakeError() {
    std::lock_guard<std::mutex> lock(m_lock);
    return std::exchange(m_strError, CString());
}

bool CValueLog::WriteAll(const CString& str) {
    const off_t nStart = ::lseek(m_hFile.Get(), 0, SEEK_END);
    size_t nDone = 0;
    while (nDone < str.size()) {
        const ssize_t n = ::write(m_hFile.Get(), str.data() + nDone, str.size() - nDone);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int nError = n < 0 ? errno : ENOSPC;
            // A line cut by the failure is taken back: the file ends with
            // the last whole line.
            const size_t nWhole = str.rfind('\n', nDone == 0 ? 0 : nDone - 1);
            if (nStart >= 0 && nDone > 0) {
                const size_t nKeep = nWhole == CString::npos || nWhole >= nDone ? 0 : nWhole + 1;
                (void)!::ftruncate(m_hFile.Get(), nStart + off_t(nKeep));
            }
            std::lock_guard<std::mutex> lock(m_lock);
            m_strError = "Logging to " + m_strPath + " stopped: " + std::strerror(nError);
            m_bOpen = false;
            m_queue.clear();
            return false;
        }
        nDone += size_t(n);
    }
    return true;
}

void CValueLog::Run() {
    std::deque<CString> batch;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            // Woken for a full batch or when closing, else it writes what
            // came in the meantime every so often: a poll cycle costs no
            // more than queuing its line.
            m_wake.wait_for(lock, WRITE_SPACING,
                            [this] { return m_bStop || m_queue.size() >= BATCH_LINES; });
            if (m_queue.empty()) {
                if (m_bStop) {
                    return;  // stopped, everything written
                }
                continue;
            }
            batch.swap(m_queue);
        }
        // One write per batch: whole lines only, however many came.
        CString strBatch;
        for (const CString& str : batch) {
            strBatch += str;
        }
        batch.clear();
        if (!WriteAll(strBatch)) {
            return;
        }
    }
}
