// Settings of out-of-process activation, shared by clients and servers.
//
// Local servers listen on <runtime directory>/<CLSID>.sock, the CLSID in
// lower-case hex with dashes and no braces. The runtime directory is the one
// set with CoSetRuntimeDirectory, else $REGPROBE_COM_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/regprobe, else regprobe-runtime in the user's cache
// ($XDG_CACHE_HOME, else ~/.cache); it is created 0700 and refused when
// another user owns it or others may enter it.
#pragma once

#include <string>
#include <vector>

#include "platform/com/ComBase.h"

// The executable that serves the class on this machine, started on demand
// with the argument --activated. A relative path is looked for, in this
// order, beside the running executable, in the installation's helper
// directory relative to it (<its directory>/../libexec/regprobe when
// installed under a prefix), in the build tree's server directory when the
// running executable is one of that build tree's, then in the helper
// directory at the configured prefix (/usr/libexec/regprobe for the
// package); a null path removes the entry.
HRESULT CoRegisterLocalServer(REFCLSID rclsid, const char* pszExePath);
// Null goes back to the default.
HRESULT CoSetRuntimeDirectory(const char* pszPath);
// The key file of remote activation; null goes back to the default,
// $XDG_CONFIG_HOME/regprobe/access.key, else ~/.config/regprobe/access.key.
HRESULT CoSetAccessKeyFile(const char* pszPath);
// How long one call through a proxy may take, in milliseconds (default two
// minutes; 0 restores it). A call that takes longer fails and closes its
// connection. Takes effect at the next call, on open connections too.
HRESULT CoSetCallTimeout(DWORD dwMillis);

// While it lives, the calls this thread makes through proxies are bounded by
// its limit instead (0: the process-wide one). Scopes nest.
class CCallTimeLimit {
public:
    explicit CCallTimeLimit(DWORD dwMillis);
    ~CCallTimeLimit();
    CCallTimeLimit(const CCallTimeLimit&) = delete;
    CCallTimeLimit& operator=(const CCallTimeLimit&) = delete;

private:
    DWORD m_dwPrevious;
};

// For the remoting layer itself.
constexpr const char* RPC_RUNTIME_DIR_VARIABLE = "REGPROBE_COM_RUNTIME_DIR";
// The descriptor on which a server started on demand says it listens.
constexpr const char* RPC_READY_FD_VARIABLE = "REGPROBE_COM_READY_FD";

// Empty when the class has no executable.
std::string RpcGetLocalServer(REFCLSID rclsid);
// Where a relative executable is looked for by a program in strExeDir, in
// order; the first that may be executed wins, else the first of them.
std::vector<std::string> RpcLocalServerCandidates(const std::string& strExeDir,
                                                  const std::string& strName);
std::string RpcFindLocalServer(const std::string& strExeDir, const std::string& strName);
// Creates the directory when missing; E_ACCESSDENIED when it is not private.
HRESULT RpcGetRuntimeDirectory(std::string* pstrPath);
std::string RpcGetAccessKeyFile();
// The limit of this thread's calls now.
DWORD RpcGetCallTimeout();
// What a client's error object says of a server silent for nMillis:
// "The serial-port server did not answer within 5 s."
std::string RpcNoAnswerWithin(int nMillis);
// "6a1f0c3e-24b7-4d19-9c52-7e0b3d8a1f40"
std::string RpcGuidToName(REFGUID guid);
// Set while a server creates an object for a client: the creation must not
// leave the process.
bool& RpcServingActivation();
