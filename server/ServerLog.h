// The serial server's log: one line per event on standard error, with its
// level; lines below the chosen level are dropped. Safe from any thread.
#pragma once

#include <functional>

#include "platform/WinTypes.h"

class CServerLog {
public:
    enum ELevel { LEVEL_ERROR, LEVEL_WARN, LEVEL_INFO, LEVEL_DEBUG };

    static void SetLevel(ELevel level);
    static ELevel GetLevel();
    static bool IsEnabled(ELevel level) { return level <= GetLevel(); }
    // "error", "warn", "info" or "debug".
    static bool ParseLevel(const CString& strName, ELevel& level);
    // Lines go to sink instead of standard error (null: back to it).
    static void SetSink(std::function<void(ELevel, const CString&)> sink);

    static void Write(ELevel level, const CString& strLine);
    static void Error(const CString& strLine) { Write(LEVEL_ERROR, strLine); }
    static void Warn(const CString& strLine) { Write(LEVEL_WARN, strLine); }
    static void Info(const CString& strLine) { Write(LEVEL_INFO, strLine); }
    static void Debug(const CString& strLine) { Write(LEVEL_DEBUG, strLine); }
};
