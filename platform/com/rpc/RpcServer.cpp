#include "RpcServer.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "RpcFrame.h"
#include "RpcServerConnection.h"
#include "RpcSettings.h"

namespace {
using Clock = std::chrono::steady_clock;

// Room for a burst of connections to wait for the acceptor, which sorts
// them out quickly, rather than in the kernel's retries.
constexpr int kTcpBacklog = 256;

// Tells the client that started this process on demand that it listens;
// the descriptor is checked to be a pipe before it is written to.
void SignalReady() {
    static std::atomic<bool> s_bSignalled{false};
    if (s_bSignalled.exchange(true)) {
        return;
    }
    const char* pszFd = std::getenv(RPC_READY_FD_VARIABLE);
    if (pszFd == nullptr) {
        return;
    }
    int hFd = std::atoi(pszFd);
    struct stat st {};
    if (hFd > 2 && ::fstat(hFd, &st) == 0 && S_ISFIFO(st.st_mode)) {
        const CUniqueFd hReady(hFd);
        ssize_t n = ::write(hReady.Get(), "R", 1);
        (void)n;
    }
}

// "host" or "host:port" with the port in range.
bool SplitAddress(const std::string& strAddress, std::string* pstrHost, WORD* pnPort) {
    size_t nColon = strAddress.rfind(':');
    *pstrHost = strAddress.substr(0, nColon);
    *pnPort = RPC_DEFAULT_PORT;
    if (nColon == std::string::npos) {
        return !pstrHost->empty();
    }
    std::string strPort = strAddress.substr(nColon + 1);
    if (strPort.empty() || strPort.size() > 5 ||
        strPort.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    unsigned long nPort = std::strtoul(strPort.c_str(), nullptr, 10);
    *pnPort = static_cast<WORD>(nPort);
    return nPort <= 65535 && !pstrHost->empty();
}
}  // namespace

CRpcServer::CRpcServer() : m_idleSince(Clock::now().time_since_epoch().count()) {}

CRpcServer::~CRpcServer() {
    Stop();
}

HRESULT CRpcServer::ListenLocal(REFCLSID rclsid) {
    std::string strDir;
    HRESULT hr = RpcGetRuntimeDirectory(&strDir);
    if (FAILED(hr)) {
        return hr;
    }
    std::string strBase = strDir + "/" + RpcGuidToName(rclsid);
    std::string strPath = strBase + ".sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (strPath.size() >= sizeof addr.sun_path) {
        return E_INVALIDARG;
    }
    strPath.copy(addr.sun_path, strPath.size());
    // Whoever holds the lock owns the socket; a socket file without a holder
    // was left by a server that died.
    CUniqueFd hLock(::open((strBase + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!hLock) {
        return E_ACCESSDENIED;
    }
    if (::flock(hLock.Get(), LOCK_EX | LOCK_NB) != 0) {
        return RPC_S_DUPLICATE_ENDPOINT_HR;
    }
    ::unlink(strPath.c_str());
    CUniqueFd hSocket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!hSocket || ::bind(hSocket.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::chmod(strPath.c_str(), 0600) != 0 || ::listen(hSocket.Get(), 16) != 0) {
        return E_FAIL;
    }
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_listeners.push_back(std::make_unique<CListener>(
            CListener{std::move(hSocket), true, strPath, std::move(hLock), nullptr}));
    }
    StartAccepting();
    SignalReady();
    return S_OK;
}

HRESULT CRpcServer::ListenTcp(const char* pszAddress, const char* pszKeyFile, WORD* pnPort) {
    if (pszAddress == nullptr || pszKeyFile == nullptr) {
        return E_INVALIDARG;
    }
    auto pKey = std::make_unique<CRpcAccessKey>();
    HRESULT hr = pKey->Load(pszKeyFile);
    if (FAILED(hr)) {
        return hr;
    }
    std::string strHost;
    WORD nPort;
    if (!SplitAddress(pszAddress, &strHost, &nPort)) {
        return E_INVALIDARG;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* pResult = nullptr;
    if (::getaddrinfo(strHost.c_str(), nullptr, &hints, &pResult) != 0 || pResult == nullptr) {
        return E_INVALIDARG;
    }
    sockaddr_in addr{};
    __builtin_memcpy(&addr, pResult->ai_addr, sizeof addr);
    ::freeaddrinfo(pResult);
    addr.sin_port = htons(nPort);
    CUniqueFd hSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int on = 1;
    socklen_t len = sizeof addr;
    if (!hSocket || ::setsockopt(hSocket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(hSocket.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(hSocket.Get(), kTcpBacklog) != 0 ||
        ::getsockname(hSocket.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        // Taken before the descriptor's close can touch errno.
        hr = errno == EADDRINUSE ? RPC_S_DUPLICATE_ENDPOINT_HR : E_FAIL;
        return hr;
    }
    if (pnPort != nullptr) {
        *pnPort = ntohs(addr.sin_port);
    }
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_listeners.push_back(std::make_unique<CListener>(
            CListener{std::move(hSocket), false, std::string(), CUniqueFd(), pKey.get()}));
        m_keys.push_back(std::move(pKey));
    }
    StartAccepting();
    return S_OK;
}

void CRpcServer::StartAccepting() {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_acceptor.joinable()) {
        Wake();  // to take up the new listener
        return;
    }
    int hPipe[2];
    if (!m_hWakeRead && ::pipe2(hPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_hWakeRead.Reset(hPipe[0]);
        m_hWakeWrite.Reset(hPipe[1]);
    }
    m_acceptor = std::thread(&CRpcServer::Accept, this);
}

void CRpcServer::Wake() {
    if (m_hWakeWrite) {
        ssize_t n = ::write(m_hWakeWrite.Get(), "w", 1);
        (void)n;
    }
}

void CRpcServer::Accept() {
    std::vector<pollfd> fds;
    std::vector<const CListener*> listeners;
    while (!m_bStopping) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            listeners.clear();
            for (const auto& pListener : m_listeners) {
                listeners.push_back(pListener.get());
            }
        }
        fds.clear();
        fds.push_back({m_hWakeRead.Get(), POLLIN, 0});
        for (const CListener* pListener : listeners) {
            fds.push_back({pListener->hSocket.Get(), POLLIN, 0});
        }
        // The time-out only paces the reaping of finished connections.
        if (::poll(fds.data(), fds.size(), 200) > 0) {
            char drain[64];
            if (fds[0].revents != 0) {
                while (::read(m_hWakeRead.Get(), drain, sizeof drain) > 0) {
                }
            }
            for (size_t i = 0; i < listeners.size() && !m_bStopping; ++i) {
                if (fds[i + 1].revents & POLLIN) {
                    AcceptOne(*listeners[i]);
                }
            }
        }
        Reap(false);
    }
}

void CRpcServer::AcceptOne(const CListener& listener) {
    sockaddr_in peer{};
    socklen_t nPeer = sizeof peer;
    int hSocket = ::accept4(listener.hSocket.Get(), reinterpret_cast<sockaddr*>(&peer), &nPeer,
                            SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (hSocket < 0) {
        return;
    }
    CRpcSocket socket(hSocket);
    const uint32_t nAddress = listener.bLocal ? 0 : peer.sin_addr.s_addr;
    if (listener.bLocal) {
        uid_t uid;
        if (!socket.GetPeerUid(&uid) || uid != ::geteuid()) {
            return;  // another user's process
        }
    } else {
        socket.SetTcpOptions();
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    size_t nLocal = 0, nPending = 0, nPendingHere = 0;
    for (const auto& pConnection : m_connections) {
        if (pConnection->IsEvicted() || pConnection->IsFinished()) {
            continue;
        }
        if (!pConnection->IsRemote()) {
            ++nLocal;
        } else if (pConnection->IsPending()) {
            ++nPending;
            nPendingHere += pConnection->GetPeerAddress() == nAddress ? 1 : 0;
        }
    }
    if (listener.bLocal && nLocal >= MAX_LOCAL) {
        return;
    }
    if (!listener.bLocal) {
        if (nPendingHere >= MAX_PENDING_PER_ADDRESS) {
            EvictOldestPending(nAddress);
        } else if (nPending >= MAX_PENDING) {
            EvictOldestPending(0);
        }
    }
    auto pConnection = std::make_unique<CRpcServerConnection>(
        *this, std::move(socket), listener.bLocal ? nullptr : listener.pKey, nAddress);
    ConnectionOpened();
    pConnection->Start();
    m_connections.push_back(std::move(pConnection));
}

void CRpcServer::EvictOldestPending(uint32_t nAddress) {
    // Connections are kept in the order they came.
    CRpcServerConnection* pOldest = nullptr;
    for (const auto& pConnection : m_connections) {
        if (!pConnection->IsRemote() || !pConnection->IsPending() || pConnection->IsEvicted() ||
            pConnection->IsFinished() ||
            (nAddress != 0 && pConnection->GetPeerAddress() != nAddress)) {
            continue;
        }
        if (pConnection->IsSilent()) {
            pConnection->Evict();
            return;
        }
        pOldest = pOldest != nullptr ? pOldest : pConnection.get();
    }
    if (pOldest != nullptr) {
        pOldest->Evict();
    }
}

bool CRpcServer::Admit(CRpcServerConnection& connection) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (connection.IsEvicted()) {
        return false;
    }
    size_t nRemote = 0;
    for (const auto& pConnection : m_connections) {
        nRemote +=
            pConnection->IsRemote() && !pConnection->IsPending() && !pConnection->IsFinished() ? 1
                                                                                               : 0;
    }
    if (nRemote >= MAX_REMOTE) {
        return false;
    }
    connection.MarkAdmitted();
    return true;
}

void CRpcServer::Reap(bool bAll) {
    std::vector<std::unique_ptr<CRpcServerConnection>> finished;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (bAll || (*it)->IsFinished()) {
                finished.push_back(std::move(*it));
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& pConnection : finished) {
        pConnection->Stop();
    }
    // Destroying a connection waits for its thread.
    finished.clear();
}

void CRpcServer::Stop() {
    m_bStopping = true;
    std::thread acceptor;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        Wake();
        acceptor.swap(m_acceptor);
    }
    if (acceptor.joinable()) {
        acceptor.join();
    }
    std::vector<std::unique_ptr<CListener>> listeners;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        listeners.swap(m_listeners);
    }
    for (const auto& pListener : listeners) {
        // The socket file goes before the lock that claims it is let go.
        pListener->hSocket.Reset();
        if (pListener->bLocal) {
            ::unlink(pListener->strPath.c_str());
            pListener->hLock.Reset();
        }
    }
    Reap(true);
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_keys.clear();
        m_hWakeRead.Reset();
        m_hWakeWrite.Reset();
    }
    m_bStopping = false;
}

DWORD CRpcServer::GetIdleMillis() const {
    if (m_nConnections != 0) {
        return 0;
    }
    auto since = Clock::time_point(Clock::duration(m_idleSince.load()));
    auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since);
    return idle.count() > 0 ? static_cast<DWORD>(idle.count()) : 0;
}

std::unique_lock<std::mutex> CRpcServer::EnterObjects() {
    return m_bOneCallAtATime ? std::unique_lock<std::mutex>(m_objectsMutex)
                             : std::unique_lock<std::mutex>();
}

void CRpcServer::ConnectionOpened() {
    ++m_nConnections;
}

void CRpcServer::ConnectionClosed() {
    m_idleSince = Clock::now().time_since_epoch().count();
    --m_nConnections;
}
