#include "PortMap.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

#include "platform/Text.h"

CPortMap::CPortMap() {
    for (int i = 0; i < 4; ++i) {
        m_strPaths[i] = "/dev/ttyS" + std::to_string(i);
        m_strPaths[i + 4] = "/dev/ttyUSB" + std::to_string(i);
    }
}

CPortMap::CPortMap(const CPortMap& other) {
    *this = other;
}

CPortMap& CPortMap::operator=(const CPortMap& other) {
    if (this != &other) {
        std::scoped_lock guard(m_mutex, other.m_mutex);
        for (int i = 0; i < PORT_COUNT; ++i) {
            m_strPaths[i] = other.m_strPaths[i];
        }
    }
    return *this;
}

CString CPortMap::GetPath(int nPort) const {
    if (nPort < 1 || nPort > PORT_COUNT) {
        return CString();
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_strPaths[nPort - 1];
}

BOOL CPortMap::SetPath(int nPort, const CString& strPath) {
    if (nPort < 1 || nPort > PORT_COUNT || strPath.empty()) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    m_strPaths[nPort - 1] = strPath;
    return TRUE;
}

int CPortMap::ParsePortName(const CString& strName) {
    if (strName.size() != 4 || std::tolower(static_cast<unsigned char>(strName[0])) != 'c' ||
        std::tolower(static_cast<unsigned char>(strName[1])) != 'o' ||
        std::tolower(static_cast<unsigned char>(strName[2])) != 'm') {
        return 0;
    }
    const int nPort = strName[3] - '0';
    return nPort >= 1 && nPort <= PORT_COUNT ? nPort : 0;
}

BOOL CPortMap::Assign(const CString& strText, CString& strError) {
    const size_t nEquals = strText.find('=');
    const int nPort =
        nEquals == CString::npos ? 0 : ParsePortName(Trim(strText.substr(0, nEquals)));
    const CString strPath =
        nEquals == CString::npos ? CString() : Trim(strText.substr(nEquals + 1));
    if (nPort == 0 || strPath.empty() || strPath[0] != '/') {
        strError = "expected COMn=/path with n 1..8, not '" + strText + "'";
        return FALSE;
    }
    return SetPath(nPort, strPath);
}

BOOL CPortMap::LoadFile(const CString& strPath, CString& strError) {
    std::ifstream in(strPath);
    if (!in) {
        strError = "cannot read " + strPath;
        return FALSE;
    }
    CString strLine;
    int nLine = 0;
    // A file is small; a huge one is not a port map.
    while (std::getline(in, strLine) && nLine < 1000) {
        ++nLine;
        const CString strText = Trim(strLine);
        if (strText.empty() || strText[0] == '#') {
            continue;
        }
        CString strWhy;
        if (!Assign(strText, strWhy)) {
            strError = strPath + ":" + std::to_string(nLine) + ": " + strWhy;
            return FALSE;
        }
    }
    return TRUE;
}

CString CPortMap::DefaultConfigPath() {
    const char* pszConfig = std::getenv("XDG_CONFIG_HOME");
    if (pszConfig != nullptr && pszConfig[0] == '/') {
        return CString(pszConfig) + "/regprobe/serial-ports.conf";
    }
    const char* pszHome = std::getenv("HOME");
    if (pszHome != nullptr && pszHome[0] == '/') {
        return CString(pszHome) + "/.config/regprobe/serial-ports.conf";
    }
    return CString();
}
