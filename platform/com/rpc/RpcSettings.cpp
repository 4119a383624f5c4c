#include "RpcSettings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {
constexpr DWORD kDefaultCallTimeout = 120000;

struct CLocalServer {
    CLSID clsid;
    std::string strExe;  // absolute, or a name looked for at each activation
};

std::mutex g_mutex;  // guards the settings below
std::vector<CLocalServer> g_localServers;
std::string g_strRuntimeDir;
std::string g_strKeyFile;
DWORD g_dwCallTimeout = kDefaultCallTimeout;
thread_local DWORD t_dwCallTimeLimit = 0;

std::string DirectoryOfExecutable() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string str(path, size_t(n));
    size_t nSlash = str.rfind('/');
    return nSlash == std::string::npos ? "." : str.substr(0, nSlash == 0 ? 1 : nSlash);
}

std::string Environment(const char* pszName) {
    const char* psz = std::getenv(pszName);
    return psz != nullptr ? std::string(psz) : std::string();
}

std::string HomeDirectory() {
    std::string str = Environment("HOME");
    if (!str.empty()) {
        return str;
    }
    passwd pw{};
    passwd* pResult = nullptr;
    char buf[4096];
    if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &pResult) == 0 && pResult != nullptr &&
        pw.pw_dir != nullptr) {
        return pw.pw_dir;
    }
    return "/";
}

// Whether a program in strExeDir is one of the build tree's own. An
// installed copy of it (the same binary) lives elsewhere, and the copy that
// CPack stages inside the tree is an installation as well.
bool IsInBuildTree(const std::string& strExeDir) {
    static const std::string strTree = [] {
        char resolved[4096];
        return ::realpath(REGPROBE_BUILD_TREE, resolved) != nullptr ? std::string(resolved)
                                                                    : std::string();
    }();
    if (strTree.empty() || (strExeDir != strTree && !strExeDir.starts_with(strTree + "/"))) {
        return false;
    }
    return !strExeDir.starts_with(strTree + "/_CPack_Packages/");
}

// Creates the last component 0700 when missing, then checks it is a
// directory of this user closed to everyone else.
HRESULT MakePrivateDirectory(const std::string& strPath) {
    if (::mkdir(strPath.c_str(), 0700) != 0 && errno != EEXIST) {
        return HRESULT_FROM_WIN32(3);  // ERROR_PATH_NOT_FOUND
    }
    struct stat st {};
    if (::lstat(strPath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0) {
        return E_ACCESSDENIED;
    }
    return S_OK;
}
}  // namespace

HRESULT CoRegisterLocalServer(REFCLSID rclsid, const char* pszExePath) {
    std::string strExe;
    if (pszExePath != nullptr) {
        if (pszExePath[0] == '\0') {
            return E_INVALIDARG;
        }
        strExe = pszExePath;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    for (auto it = g_localServers.begin(); it != g_localServers.end(); ++it) {
        if (it->clsid == rclsid) {
            g_localServers.erase(it);
            break;
        }
    }
    if (!strExe.empty()) {
        g_localServers.push_back({rclsid, strExe});
    }
    return S_OK;
}

HRESULT CoSetRuntimeDirectory(const char* pszPath) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_strRuntimeDir = pszPath != nullptr ? pszPath : "";
    return S_OK;
}

HRESULT CoSetAccessKeyFile(const char* pszPath) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_strKeyFile = pszPath != nullptr ? pszPath : "";
    return S_OK;
}

HRESULT CoSetCallTimeout(DWORD dwMillis) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_dwCallTimeout = dwMillis != 0 ? dwMillis : kDefaultCallTimeout;
    return S_OK;
}

std::string RpcGetLocalServer(REFCLSID rclsid) {
    std::lock_guard<std::mutex> guard(g_mutex);
    for (const CLocalServer& s : g_localServers) {
        if (s.clsid == rclsid) {
            return s.strExe[0] == '/' ? s.strExe
                                      : RpcFindLocalServer(DirectoryOfExecutable(), s.strExe);
        }
    }
    return std::string();
}

std::vector<std::string> RpcLocalServerCandidates(const std::string& strExeDir,
                                                  const std::string& strName) {
    std::vector<std::string> candidates = {strExeDir + "/" + strName};
    // The helper directory of the installation the program runs from, so a
    // tree unpacked anywhere finds its own server before the system's.
    std::string strRelative = REGPROBE_HELPER_DIR_FROM_BIN;
    if (!strRelative.empty()) {
        candidates.push_back(strExeDir + "/" + strRelative + "/" + strName);
    }
    // A program run from the build tree starts the server built with it, not
    // an installed one of another build.
    if (IsInBuildTree(strExeDir)) {
        candidates.push_back(std::string(REGPROBE_BUILD_HELPER_DIR) + "/" + strName);
    }
    candidates.push_back(std::string(REGPROBE_HELPER_DIR) + "/" + strName);
    return candidates;
}

std::string RpcFindLocalServer(const std::string& strExeDir, const std::string& strName) {
    std::vector<std::string> candidates = RpcLocalServerCandidates(strExeDir, strName);
    for (const std::string& strPath : candidates) {
        struct stat st {};
        if (::stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(strPath.c_str(), X_OK) == 0) {
            return strPath;
        }
    }
    // Reported as missing where the program's own directory would have it.
    return candidates.front();
}

HRESULT RpcGetRuntimeDirectory(std::string* pstrPath) {
    std::string strPath;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        strPath = g_strRuntimeDir;
    }
    if (strPath.empty()) {
        strPath = Environment(RPC_RUNTIME_DIR_VARIABLE);
    }
    if (strPath.empty()) {
        std::string strXdg = Environment("XDG_RUNTIME_DIR");
        if (!strXdg.empty()) {
            strPath = strXdg + "/regprobe";
        } else {
            // Never a name in a shared directory, which another user could
            // take first: the user's own cache holds it.
            std::string strCache = Environment("XDG_CACHE_HOME");
            if (strCache.empty() || strCache[0] != '/') {
                strCache = HomeDirectory() + "/.cache";
            }
            ::mkdir(strCache.c_str(), 0700);
            strPath = strCache + "/regprobe-runtime";
        }
    }
    while (strPath.size() > 1 && strPath.back() == '/') {
        strPath.pop_back();
    }
    HRESULT hr = MakePrivateDirectory(strPath);
    if (SUCCEEDED(hr)) {
        *pstrPath = strPath;
    }
    return hr;
}

std::string RpcGetAccessKeyFile() {
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        if (!g_strKeyFile.empty()) {
            return g_strKeyFile;
        }
    }
    std::string strConfig = Environment("XDG_CONFIG_HOME");
    if (strConfig.empty()) {
        strConfig = HomeDirectory() + "/.config";
    }
    return strConfig + "/regprobe/access.key";
}

CCallTimeLimit::CCallTimeLimit(DWORD dwMillis) : m_dwPrevious(t_dwCallTimeLimit) {
    t_dwCallTimeLimit = dwMillis;
}

CCallTimeLimit::~CCallTimeLimit() {
    t_dwCallTimeLimit = m_dwPrevious;
}

DWORD RpcGetCallTimeout() {
    if (t_dwCallTimeLimit != 0) {
        return t_dwCallTimeLimit;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_dwCallTimeout;
}

std::string RpcGuidToName(REFGUID guid) {
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", guid.Data1,
                  guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

bool& RpcServingActivation() {
    thread_local bool t_bServing = false;
    return t_bServing;
}

std::string RpcNoAnswerWithin(int nMillis) {
    char text[80];
    if (nMillis % 1000 == 0) {
        std::snprintf(text, sizeof text, "The serial-port server did not answer within %d s.",
                      nMillis / 1000);
    } else {
        std::snprintf(text, sizeof text, "The serial-port server did not answer within %d ms.",
                      nMillis);
    }
    return text;
}
