#include "Remoting.h"

#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "RpcAccessKey.h"
#include "RpcChannel.h"
#include "RpcFrame.h"
#include "RpcRemoteObject.h"
#include "RpcServerLauncher.h"
#include "RpcSettings.h"
#include "platform/Unicode.h"
#include "platform/com/ComApi.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ErrorInfo.h"

namespace {
using Clock = std::chrono::steady_clock;

// How long a local server has to start listening, and the pace of looking.
constexpr auto kStartLimit = std::chrono::seconds(5);
constexpr int kStartStepMillis = 20;
// A server that is gone may have lost a race to another one that is about
// to listen; this long is given to that one.
constexpr auto kGoneGrace = std::chrono::seconds(1);
constexpr int kConnectMillis = 5000;
// A server with the key answers within a second; room is left for a slow
// network.
constexpr int kHandshakeMillis = 5000;

// One connection per server, shared by every proxy on it.
std::mutex g_channelsMutex;
std::map<std::string, std::weak_ptr<CRpcChannel>> g_channels;
// One activation at a time, so a process starts a server only once.
std::mutex g_activationMutex;

std::shared_ptr<CRpcChannel> FindChannel(const std::string& strKey) {
    std::lock_guard<std::mutex> guard(g_channelsMutex);
    auto it = g_channels.find(strKey);
    if (it == g_channels.end()) {
        return nullptr;
    }
    std::shared_ptr<CRpcChannel> pChannel = it->second.lock();
    if (pChannel == nullptr || !pChannel->IsAlive()) {
        g_channels.erase(it);
        return nullptr;
    }
    return pChannel;
}

std::shared_ptr<CRpcChannel> AddChannel(const std::string& strKey, CRpcSocket&& socket) {
    auto pChannel = std::make_shared<CRpcChannel>(std::move(socket));
    std::lock_guard<std::mutex> guard(g_channelsMutex);
    g_channels[strKey] = pChannel;
    return pChannel;
}

// Asks the server for an object of the class; the answer is its IUnknown.
HRESULT Activate(const std::shared_ptr<CRpcChannel>& pChannel, REFCLSID rclsid, IUnknown** ppUnk) {
    CRpcFrameWriter request(RPC_MSG_ACTIVATE, 0);
    request.PutGuid(rclsid);
    CRpcFrameReader answer;
    HRESULT hr = pChannel->Call(request, &answer);
    LONG hrActivation;
    if (FAILED(hr)) {
        return hr;
    }
    if (!answer.GetI32(hrActivation)) {
        return RPC_X_BAD_STUB_DATA_HR;
    }
    if (FAILED(hrActivation)) {
        return hrActivation;
    }
    DWORD dwObjectId;
    if (!answer.GetU32(dwObjectId) || !answer.IsDone() || dwObjectId == 0) {
        return RPC_X_BAD_STUB_DATA_HR;
    }
    return CRpcRemoteObject::Unmarshal(pChannel, dwObjectId, IID_IUnknown,
                                       reinterpret_cast<void**>(ppUnk));
}

// A server of another protocol version: the HRESULT says that much, the
// thread's error object both versions.
HRESULT VersionMismatch(WORD wServerVersion) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "The serial-port server speaks protocol version %u; this program speaks "
                  "version %u.",
                  unsigned(wServerVersion), unsigned(RPC_VERSION));
    SetErrorDescription(text);
    return RPC_E_VERSION_MISMATCH;
}

// "…: Connection refused."
std::string WithReason(const std::string& strWhat, int nError) {
    return strWhat + ": " + std::strerror(nError) + ".";
}

// Takes the server's greeting, which says it serves this protocol, and
// answers with this end's. S_OK; RPC_S_SERVER_UNAVAILABLE_HR when none came
// or the answer could not go; RPC_E_VERSION_MISMATCH for a server of another
// version; E_FAIL for a peer that is no server of ours. Each failure leaves
// an error object saying which.
HRESULT Greet(CRpcSocket& socket, int nMillis) {
    std::vector<BYTE> body;
    const CRpcSocket::EReceive received = socket.ReceiveFrame(body, nMillis);
    if (received != CRpcSocket::RECEIVE_OK) {
        SetErrorDescription(received == CRpcSocket::RECEIVE_TIMEOUT
                                ? RpcNoAnswerWithin(nMillis)
                                : "The serial-port server ended the connection before it greeted.");
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    WORD wVersion;
    if (!RpcReadHello(body, &wVersion)) {
        SetErrorDescription("The peer does not greet as a serial-port server does.");
        return E_FAIL;
    }
    if (wVersion != RPC_VERSION) {
        return VersionMismatch(wVersion);
    }
    CRpcFrameWriter hello = RpcHello();
    if (!socket.SendFrame(hello, nMillis)) {
        SetErrorDescription("The serial-port server ended the connection after it greeted.");
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    return S_OK;
}

// Connects to the local socket and takes the server's greeting. Returns
// S_OK, S_FALSE when nobody listens there, or the failure.
HRESULT ConnectLocal(const std::string& strPath, CRpcSocket* pSocket) {
    int err = pSocket->ConnectUnix(strPath);
    if (err == ENOENT || err == ECONNREFUSED) {
        return S_FALSE;
    }
    if (err != 0) {
        SetErrorDescription(WithReason("The serial-port server's socket " + strPath, err));
        return err == EACCES ? E_ACCESSDENIED : CO_E_SERVER_EXEC_FAILURE;
    }
    uid_t uid;
    if (!pSocket->GetPeerUid(&uid) || uid != ::geteuid()) {
        pSocket->Close();
        SetErrorDescription("The serial-port server's socket " + strPath +
                            " is served by another user.");
        return E_ACCESSDENIED;
    }
    const HRESULT hr = Greet(*pSocket, kHandshakeMillis);
    if (hr != S_OK) {
        pSocket->Close();
        // No greeting: a server on its way out.
        if (hr == RPC_S_SERVER_UNAVAILABLE_HR) {
            SetErrorInfo(0, nullptr);
            return S_FALSE;
        }
        return hr == RPC_E_VERSION_MISMATCH ? hr : CO_E_SERVER_EXEC_FAILURE;
    }
    return S_OK;
}

// "host" or "host:port".
bool ParseServerName(const OLECHAR* pwszServer, std::string* pstrHost, WORD* pnPort) {
    std::u16string wide;
    for (const OLECHAR* p = pwszServer; *p != u'\0' && wide.size() < 1024; ++p) {
        wide.push_back(*p);
    }
    std::string strName = WideToMultiByte(wide);
    size_t nColon = strName.rfind(':');
    *pnPort = RPC_DEFAULT_PORT;
    *pstrHost = strName.substr(0, nColon);
    if (nColon != std::string::npos) {
        std::string strPort = strName.substr(nColon + 1);
        if (strPort.empty() || strPort.size() > 5 ||
            strPort.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        unsigned long nPort = std::stoul(strPort);
        if (nPort == 0 || nPort > 65535) {
            return false;
        }
        *pnPort = static_cast<WORD>(nPort);
    }
    return !pstrHost->empty();
}

HRESULT ConnectRemote(const std::string& strHost, WORD nPort, CRpcSocket* pSocket) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pResult = nullptr;
    if (::getaddrinfo(strHost.c_str(), nullptr, &hints, &pResult) != 0) {
        SetErrorDescription("The machine name " + strHost + " is not known.");
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    int err = EHOSTUNREACH;
    for (addrinfo* p = pResult; p != nullptr && err != 0; p = p->ai_next) {
        sockaddr_in addr{};
        __builtin_memcpy(&addr, p->ai_addr, sizeof addr);
        addr.sin_port = htons(nPort);
        err = pSocket->ConnectTcp(addr, kConnectMillis);
    }
    ::freeaddrinfo(pResult);
    if (err != 0) {
        SetErrorDescription(err == ETIMEDOUT
                                ? RpcNoAnswerWithin(kConnectMillis)
                                : WithReason("The serial-port server cannot be reached", err));
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    CRpcAccessKey key;
    const std::string strKeyFile = RpcGetAccessKeyFile();
    HRESULT hr = key.Load(strKeyFile);
    if (FAILED(hr)) {
        SetErrorDescription("This program's access key file " + strKeyFile +
                            " is missing or may not be used.");
    } else {
        const auto start = Clock::now();
        hr = pSocket->StartTls(key, false, kHandshakeMillis, 0);
        if (SUCCEEDED(hr)) {
            const auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            const int nLeft = std::max(1, kHandshakeMillis - static_cast<int>(spent.count()));
            hr = Greet(*pSocket, nLeft);
            if (FAILED(hr) && hr != RPC_E_VERSION_MISMATCH) {
                hr = RPC_S_SERVER_UNAVAILABLE_HR;
            }
        }
    }
    if (FAILED(hr)) {
        pSocket->Close();
    }
    return hr;
}

// Starts the program registered for the class; says why it could not.
HRESULT LaunchServer(REFCLSID rclsid, const std::string& strDir, CRpcServerLauncher& launcher,
                     std::string& strExe) {
    strExe = RpcGetLocalServer(rclsid);
    if (strExe.empty()) {
        SetErrorDescription(
            "The serial-port server is not running, and no program is known to start it.");
        return REGDB_E_CLASSNOTREG;
    }
    const HRESULT hr = launcher.Start(strExe, strDir);
    if (FAILED(hr)) {
        SetErrorDescription(
            WithReason("The serial-port server is not running and could not be started: " + strExe,
                       launcher.GetError() != 0 ? launcher.GetError() : ENOEXEC));
    }
    return hr;
}
}  // namespace

HRESULT ComActivateLocal(REFCLSID rclsid, IUnknown** ppUnk) {
    *ppUnk = nullptr;
    if (RpcServingActivation()) {
        return REGDB_E_CLASSNOTREG;  // a server's own classes are served in process
    }
    std::string strDir;
    HRESULT hr = RpcGetRuntimeDirectory(&strDir);
    if (FAILED(hr)) {
        return hr == E_ACCESSDENIED ? hr : CO_E_SERVER_EXEC_FAILURE;
    }
    std::string strPath = strDir + "/" + RpcGuidToName(rclsid) + ".sock";
    std::lock_guard<std::mutex> activation(g_activationMutex);
    auto deadline = Clock::now() + kStartLimit;
    CRpcServerLauncher launcher;
    bool bLaunched = false;
    std::string strExe;
    for (;;) {
        std::shared_ptr<CRpcChannel> pChannel = FindChannel(strPath);
        if (pChannel == nullptr) {
            CRpcSocket socket;
            hr = ConnectLocal(strPath, &socket);
            if (FAILED(hr)) {
                return hr;
            }
            if (hr == S_OK) {
                pChannel = AddChannel(strPath, std::move(socket));
            }
        }
        if (pChannel != nullptr) {
            hr = Activate(pChannel, rclsid, ppUnk);
            // A server that was leaving as we came is left for a new one.
            if (hr != RPC_E_DISCONNECTED || Clock::now() >= deadline) {
                return hr;
            }
            continue;
        }
        if (!bLaunched) {
            hr = LaunchServer(rclsid, strDir, launcher, strExe);
            if (FAILED(hr)) {
                return hr;
            }
            bLaunched = true;
            continue;
        }
        if (Clock::now() >= deadline) {
            launcher.Abandon();
            SetErrorDescription("The serial-port server " + strExe +
                                " was started but did not take clients within " +
                                std::to_string(kStartLimit.count()) + " s.");
            return CO_E_SERVER_EXEC_FAILURE;
        }
        if (launcher.Wait(kStartStepMillis) == CRpcServerLauncher::GONE) {
            deadline = std::min(deadline, Clock::now() + kGoneGrace);
        }
    }
}

HRESULT ComActivateRemote(REFCLSID rclsid, const OLECHAR* pwszServer, IUnknown** ppUnk) {
    *ppUnk = nullptr;
    if (RpcServingActivation()) {
        return REGDB_E_CLASSNOTREG;
    }
    std::string strHost;
    WORD nPort;
    if (!ParseServerName(pwszServer, &strHost, &nPort)) {
        SetErrorDescription("The server's name is neither a machine nor machine:port.");
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    std::string strKey = "tcp:" + strHost + ":" + std::to_string(nPort);
    std::lock_guard<std::mutex> activation(g_activationMutex);
    std::shared_ptr<CRpcChannel> pChannel = FindChannel(strKey);
    if (pChannel == nullptr) {
        CRpcSocket socket;
        HRESULT hr = ConnectRemote(strHost, nPort, &socket);
        if (FAILED(hr)) {
            return hr;
        }
        pChannel = AddChannel(strKey, std::move(socket));
    }
    return Activate(pChannel, rclsid, ppUnk);
}

namespace {
// The object from a class registered in this process, else from a server.
HRESULT CreateObject(REFCLSID rclsid, DWORD dwClsCtx, const COSERVERINFO* pServerInfo,
                     IUnknown** ppUnk) {
    const HRESULT hr = CoCreateRegistered(rclsid, dwClsCtx, ppUnk);
    if (hr != S_FALSE) {
        return hr;
    }
    if (dwClsCtx & CLSCTX_REMOTE_SERVER && pServerInfo != nullptr &&
        pServerInfo->pwszName != nullptr && pServerInfo->pwszName[0] != u'\0') {
        return ComActivateRemote(rclsid, pServerInfo->pwszName, ppUnk);
    }
    if (dwClsCtx & CLSCTX_LOCAL_SERVER) {
        return ComActivateLocal(rclsid, ppUnk);
    }
    return REGDB_E_CLASSNOTREG;
}
}  // namespace

HRESULT CoCreateInstanceEx(REFCLSID Clsid, IUnknown* punkOuter, DWORD dwClsCtx,
                           COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults) {
    // An error object left from before would describe another failure.
    SetErrorInfo(0, nullptr);
    if (dwCount == 0 || pResults == nullptr) {
        return E_INVALIDARG;
    }
    for (DWORD i = 0; i < dwCount; ++i) {
        pResults[i].pItf = nullptr;
        pResults[i].hr = E_NOINTERFACE;
    }
    if (!CoIsInitialized()) {
        return CO_E_NOTINITIALIZED;
    }
    if (punkOuter != nullptr) {
        return E_NOINTERFACE;  // aggregation across processes is not offered
    }
    CComPtr<IUnknown> pObject;
    const HRESULT hr = CreateObject(Clsid, dwClsCtx, pServerInfo, &pObject);
    if (FAILED(hr)) {
        return hr;
    }
    DWORD nGot = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        pResults[i].hr =
            pObject->QueryInterface(*pResults[i].pIID, reinterpret_cast<void**>(&pResults[i].pItf));
        if (SUCCEEDED(pResults[i].hr)) {
            ++nGot;
        } else {
            pResults[i].pItf = nullptr;
        }
    }
    if (nGot == 0) {
        return E_NOINTERFACE;
    }
    return nGot == dwCount ? S_OK : CO_S_NOTALLINTERFACES;
}
