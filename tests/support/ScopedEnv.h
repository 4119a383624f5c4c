// An environment variable set (or, given nullptr, removed) for the life of
// the object; what was there before comes back after.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

class CScopedEnv {
public:
    CScopedEnv(const char* pszName, const char* pszValue) : m_strName(pszName) {
        if (const char* pszOld = ::getenv(pszName)) {
            m_strOld = pszOld;
        }
        Set(pszValue);
    }
    ~CScopedEnv() { Set(m_strOld ? m_strOld->c_str() : nullptr); }
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

    void Set(const char* pszValue) {
        if (pszValue != nullptr) {
            ::setenv(m_strName.c_str(), pszValue, 1);
        } else {
            ::unsetenv(m_strName.c_str());
        }
    }

private:
    std::string m_strName;
    std::optional<std::string> m_strOld;
};
