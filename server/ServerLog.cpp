#include "ServerLog.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace {
std::atomic<int> g_nLevel{CServerLog::LEVEL_WARN};
std::mutex g_mutex;
std::function<void(CServerLog::ELevel, const CString&)> g_sink;

const char* const LEVEL_NAMES[] = {"error", "warn", "info", "debug"};
}  // namespace

void CServerLog::SetLevel(ELevel level) {
    g_nLevel = level;
}

CServerLog::ELevel CServerLog::GetLevel() {
    return static_cast<ELevel>(g_nLevel.load());
}

bool CServerLog::ParseLevel(const CString& strName, ELevel& level) {
    for (int i = LEVEL_ERROR; i <= LEVEL_DEBUG; ++i) {
        if (strName == LEVEL_NAMES[i]) {
            level = static_cast<ELevel>(i);
            return true;
        }
    }
    return false;
}

void CServerLog::SetSink(std::function<void(ELevel, const CString&)> sink) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_sink = std::move(sink);
}

void CServerLog::Write(ELevel level, const CString& strLine) {
    if (!IsEnabled(level)) {
        return;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_sink) {
        g_sink(level, strLine);
        return;
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char szTime[32];
    std::strftime(szTime, sizeof szTime, "%H:%M:%S", &local);
    std::fprintf(stderr, "%s.%03ld %s: %s\n", szTime, now.tv_nsec / 1000000, LEVEL_NAMES[level],
                 strLine.c_str());
}
