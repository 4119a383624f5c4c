// A directory of its own under /tmp (mode 0700), removed with its contents.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

class CTempDir {
public:
    CTempDir() {
        char path[] = "/tmp/regprobe-test-XXXXXX";
        if (::mkdtemp(path) != nullptr) {
            m_strPath = path;
        }
    }
    ~CTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_strPath, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    // Empty when no directory could be made.
    const std::string& Path() const { return m_strPath; }
    // Writes a file there with the mode; returns its path.
    std::string WriteFile(const std::string& strName, const std::string& strText, int nMode) {
        std::string strPath = m_strPath + "/" + strName;
        std::ofstream(strPath) << strText;
        ::chmod(strPath.c_str(), static_cast<mode_t>(nMode));
        return strPath;
    }

private:
    std::string m_strPath;
};
