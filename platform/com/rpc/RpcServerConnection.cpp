#include "RpcServerConnection.h"

#include <sys/ioctl.h>

#include "RpcFrame.h"
#include "RpcServer.h"
#include "RpcSettings.h"
#include "platform/com/ComApi.h"

namespace {
using Clock = std::chrono::steady_clock;

// Threads besides the connection's own.
constexpr size_t kMaxWorkers = 4;
// How long a lone call may keep the others from being read before an idle
// thread takes up reading, and how long idle threads keep looking out for
// that after the last lone call.
constexpr auto kTakeOver = std::chrono::milliseconds(5);
constexpr auto kLookOut = std::chrono::seconds(1);
// Requests read ahead of the workers before the reader waits for them.
constexpr size_t kMaxQueued = 64;
constexpr size_t kMaxObjects = 4096;
// A client with the key is through its handshake in a few milliseconds; a
// peer without it holds a place no longer than this, and sends no more
// than a handshake needs.
constexpr int kHandshakeMillis = 1000;
constexpr size_t kMaxHandshakeBytes = 4096;
// A client answers the server's greeting with its own at once; room is left
// for a loaded machine.
constexpr int kClientHelloMillis = 5000;
constexpr int kSendMillis = 10000;
}  // namespace

CRpcServerConnection::CRpcServerConnection(CRpcServer& server, CRpcSocket&& socket,
                                           const CRpcAccessKey* pKey, uint32_t nPeerAddress)
    : m_server(server),
      m_socket(std::move(socket)),
      m_pKey(pKey),
      m_nPeerAddress(nPeerAddress),
      m_bPending(pKey != nullptr) {}

CRpcServerConnection::~CRpcServerConnection() {
    Stop();
    Join();
}

void CRpcServerConnection::Start() {
    m_thread = std::thread(&CRpcServerConnection::Run, this);
}

void CRpcServerConnection::Stop() {
    m_socket.Shutdown();
}

void CRpcServerConnection::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CRpcServerConnection::Evict() {
    m_bEvicted = true;
    m_socket.Shutdown();
}

bool CRpcServerConnection::IsSilent() const {
    // The socket before the flag: bytes no longer queued were taken after
    // the flag was set.
    int nQueued = 0;
    if (::ioctl(m_socket.GetHandle(), FIONREAD, &nQueued) == 0 && nQueued > 0) {
        return false;
    }
    return !m_bHeard;
}

bool CRpcServerConnection::Handshake() {
    const CDeadline deadline = CDeadline::AfterMillis(kHandshakeMillis);
    if (WaitUntil(m_socket.GetHandle(), POLLIN, deadline) <= 0) {
        return false;
    }
    m_bHeard = true;
    // A client whose ClientHello proved the key leaves the budget of pending
    // peers at once, for a keyed client's place, so no stranger can evict it
    // while its handshake completes (still within the same second).
    return SUCCEEDED(m_socket.StartTls(*m_pKey, true, deadline.MillisLeft(), kMaxHandshakeBytes,
                                       [this] { return m_server.Admit(*this); }));
}

bool CRpcServerConnection::IsFinished() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_bFinished;
}

void CRpcServerConnection::Run() {
    bool bAdmitted = true;
    if (m_pKey != nullptr) {
        bAdmitted = Handshake();
    }
    if (bAdmitted) {
        CRpcFrameWriter hello = RpcHello();
        bAdmitted = m_socket.SendFrame(hello, kHandshakeMillis);
    }
    if (bAdmitted) {
        // Nothing of a client that speaks another version, or does not
        // answer the greeting, is run.
        std::vector<BYTE> body;
        WORD wVersion = 0;
        bAdmitted = m_socket.ReceiveFrame(body, kClientHelloMillis) == CRpcSocket::RECEIVE_OK &&
                    RpcReadHello(body, &wVersion) && wVersion == RPC_VERSION;
    }
    if (bAdmitted) {
        Loop();
    }
    End();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_queue.clear();
        workers.swap(m_workers);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    ReleaseAll();
    m_socket.Shutdown();
    m_server.ConnectionClosed();
    std::lock_guard<std::mutex> guard(m_mutex);
    m_bFinished = true;
}

void CRpcServerConnection::End() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bEnding = true;
    }
    m_cvWork.notify_all();
    m_cvRoom.notify_all();
}

void CRpcServerConnection::Loop() {
    // Activation creates objects through CoCreateInstanceEx.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_lock<std::mutex> lock(m_mutex);
    unsigned long nLoneCallsSeen = m_nLoneCalls;
    auto lastLoneCall = Clock::now();
    while (!m_bEnding) {
        if (!m_queue.empty()) {
            std::vector<BYTE> body = std::move(m_queue.front());
            m_queue.pop_front();
            ++m_nInCall;
            lock.unlock();
            m_cvRoom.notify_one();
            Handle(body);
            lock.lock();
            --m_nInCall;
            continue;
        }
        const auto now = Clock::now();
        if (!m_bReading && (m_nInCall == 0 || now - m_readingFreeSince >= kTakeOver)) {
            Read(lock);
            continue;
        }
        if (m_nLoneCalls != nLoneCallsSeen) {
            nLoneCallsSeen = m_nLoneCalls;
            lastLoneCall = now;
        }
        // While lone calls come, look out for one that lasts; after a quiet
        // spell sleep until woken.
        ++m_nIdle;
        if (now - lastLoneCall < kLookOut || m_nInCall != 0) {
            m_cvWork.wait_for(lock, kTakeOver);
        } else {
            ++m_nDeepSleepers;
            m_cvWork.wait(lock);
            --m_nDeepSleepers;
            lastLoneCall = Clock::now();
        }
        --m_nIdle;
    }
    lock.unlock();
    CoUninitialize();
}

void CRpcServerConnection::Read(std::unique_lock<std::mutex>& lock) {
    m_bReading = true;
    while (!m_bEnding) {
        lock.unlock();
        std::vector<BYTE> body;
        const bool bGot = m_socket.ReceiveFrame(body, -1) == CRpcSocket::RECEIVE_OK;
        const BYTE byType = bGot ? body[0] : 0;
        if (byType == RPC_MSG_RELEASE) {
            CRpcFrameReader request(body.data(), body.size());
            HandleRelease(request);
            lock.lock();
            continue;
        }
        if (byType != RPC_MSG_CALL && byType != RPC_MSG_QUERY && byType != RPC_MSG_ACTIVATE) {
            // Gone, or not a client of this protocol.
            End();
            lock.lock();
            break;
        }
        lock.lock();
        if (m_queue.empty() && m_nInCall == 0) {
            RunLoneCall(lock, body);
            return;
        }
        m_cvRoom.wait(lock, [this] { return m_queue.size() < kMaxQueued || m_bEnding; });
        m_queue.push_back(std::move(body));
        // A thread counts as idle until it wakes and takes a request, so it
        // is the requests waiting, not the idle count alone, that say whether
        // another thread is needed.
        bool bWake = false;
        if (m_queue.size() > m_nIdle && m_workers.size() < kMaxWorkers) {
            m_workers.emplace_back(&CRpcServerConnection::Loop, this);
        } else {
            bWake = true;
        }
        // Woken without the lock held, the thread need not wait for it again.
        lock.unlock();
        if (bWake) {
            m_cvWork.notify_one();
        }
        lock.lock();
    }
    m_bReading = false;
}

void CRpcServerConnection::RunLoneCall(std::unique_lock<std::mutex>& lock,
                                       std::vector<BYTE>& body) {
    // Run here, reading left to whoever needs it.
    m_bReading = false;
    m_readingFreeSince = Clock::now();
    ++m_nLoneCalls;
    ++m_nInCall;
    // Someone must be there to take up reading should it last.
    bool bWake = false;
    if (m_nIdle == 0 && m_workers.size() < kMaxWorkers) {
        m_workers.emplace_back(&CRpcServerConnection::Loop, this);
    } else {
        bWake = m_nIdle == m_nDeepSleepers && m_nDeepSleepers != 0;
    }
    lock.unlock();
    if (bWake) {
        m_cvWork.notify_one();
    }
    Handle(body);
    lock.lock();
    --m_nInCall;
}

void CRpcServerConnection::Handle(std::vector<BYTE>& body) {
    CRpcFrameReader request(body.data(), body.size());
    BYTE byType;
    DWORD dwCallId;
    request.GetU8(byType);
    request.GetU32(dwCallId);
    CRpcFrameWriter answer(RPC_MSG_ANSWER, dwCallId);
    answer.PutI32(S_OK);  // patched below
    if (byType == RPC_MSG_CALL) {
        HandleCall(request, answer);
    } else if (byType == RPC_MSG_QUERY) {
        HandleQuery(request, answer);
    } else {
        HandleActivate(request, answer);
    }
    std::lock_guard<std::mutex> guard(m_sendMutex);
    if (!m_socket.SendFrame(answer, kSendMillis)) {
        m_socket.Shutdown();
    }
}

void CRpcServerConnection::HandleCall(CRpcFrameReader& request, CRpcFrameWriter& answer) {
    DWORD dwObjectId;
    IID iid;
    WORD wSlot;
    if (!request.GetU32(dwObjectId) || !request.GetGuid(iid) || !request.GetU16(wSlot)) {
        answer.PatchU32(5, static_cast<DWORD>(RPC_X_BAD_STUB_DATA_HR));
        return;
    }
    CRpcInterfaceHandler* pHandler = nullptr;
    CComPtr<IUnknown> pItf;
    pItf.Attach(Find(dwObjectId, &iid, &pHandler));
    if (pItf == nullptr) {
        answer.PatchU32(5, static_cast<DWORD>(RPC_E_DISCONNECTED));
        return;
    }
    HRESULT hr;
    {
        auto objects = m_server.EnterObjects();
        try {
            hr = pHandler->Invoke(pItf, wSlot, request, answer, *this);
        } catch (...) {
            answer = CRpcFrameWriter(RPC_MSG_ANSWER, answer.GetCallId());
            answer.PutI32(S_OK);
            hr = RPC_E_SERVERFAULT;
        }
        // Let go under the objects lock: it may be the object's last reference.
        pItf.Release();
    }
    answer.PatchU32(5, static_cast<DWORD>(hr));
}

void CRpcServerConnection::HandleQuery(CRpcFrameReader& request, CRpcFrameWriter& answer) {
    DWORD dwObjectId;
    IID iid;
    HRESULT hr = RPC_X_BAD_STUB_DATA_HR;
    if (request.GetU32(dwObjectId) && request.GetGuid(iid) && request.IsDone()) {
        CComPtr<IUnknown> pItf;
        pItf.Attach(Find(dwObjectId, nullptr, nullptr));
        hr = RPC_E_DISCONNECTED;
        if (pItf != nullptr) {
            void* pv = nullptr;
            {
                auto objects = m_server.EnterObjects();
                hr = RpcFindInterfaceHandler(iid) != nullptr ? pItf->QueryInterface(iid, &pv)
                                                             : E_NOINTERFACE;
                pItf.Release();
            }
            if (SUCCEEDED(hr)) {
                DWORD dwNewId = Export(static_cast<IUnknown*>(pv), iid);
                hr = dwNewId != 0 ? S_OK : E_OUTOFMEMORY;
                if (dwNewId != 0) {
                    answer.PutU32(dwNewId);
                }
            }
        }
    }
    answer.PatchU32(5, static_cast<DWORD>(hr));
}

void CRpcServerConnection::HandleActivate(CRpcFrameReader& request, CRpcFrameWriter& answer) {
    CLSID clsid;
    HRESULT hr = RPC_X_BAD_STUB_DATA_HR;
    if (request.GetGuid(clsid) && request.IsDone()) {
        MULTI_QI qi{&IID_IUnknown, nullptr, S_OK};
        {
            auto objects = m_server.EnterObjects();
            RpcServingActivation() = true;
            hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 1, &qi);
            RpcServingActivation() = false;
        }
        if (SUCCEEDED(hr)) {
            DWORD dwId = Export(qi.pItf, IID_IUnknown);
            hr = dwId != 0 ? S_OK : E_OUTOFMEMORY;
            if (dwId != 0) {
                answer.PutU32(dwId);
            }
        }
    }
    answer.PatchU32(5, static_cast<DWORD>(hr));
}

void CRpcServerConnection::HandleRelease(CRpcFrameReader& request) {
    BYTE byType;
    DWORD dwCallId, dwObjectId;
    if (!request.GetU8(byType) || !request.GetU32(dwCallId) || !request.GetU32(dwObjectId)) {
        return;
    }
    CComPtr<IUnknown> pItf;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto it = m_objects.find(dwObjectId);
        if (it == m_objects.end()) {
            return;
        }
        pItf = std::move(it->second.pItf);
        m_objects.erase(it);
    }
    auto objects = m_server.EnterObjects();
    pItf.Release();
    m_server.ObjectsChanged(-1);
}

void CRpcServerConnection::PutInterface(CRpcFrameWriter& results, IUnknown* pItf, REFIID riid) {
    results.PutU32(pItf != nullptr ? Export(pItf, riid) : 0);
    results.PutGuid(riid);
}

DWORD CRpcServerConnection::Export(IUnknown* pItf, REFIID riid) {
    CComPtr<IUnknown> pHeld;
    pHeld.Attach(pItf);
    CRpcInterfaceHandler* pHandler = RpcFindInterfaceHandler(riid);
    DWORD dwId = 0;
    if (pHandler != nullptr) {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_objects.size() < kMaxObjects) {
            while (m_dwNextObjectId == 0 || m_objects.count(m_dwNextObjectId) != 0) {
                ++m_dwNextObjectId;
            }
            dwId = m_dwNextObjectId++;
            m_objects[dwId] = {std::move(pHeld), riid, pHandler};
        }
    }
    if (dwId == 0) {
        return 0;
    }
    m_server.ObjectsChanged(1);
    return dwId;
}

IUnknown* CRpcServerConnection::Find(DWORD dwObjectId, const IID* piid,
                                     CRpcInterfaceHandler** ppHandler) {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto it = m_objects.find(dwObjectId);
    if (it == m_objects.end() || (piid != nullptr && it->second.iid != *piid)) {
        return nullptr;
    }
    it->second.pItf->AddRef();
    if (ppHandler != nullptr) {
        *ppHandler = it->second.pHandler;
    }
    return it->second.pItf;
}

void CRpcServerConnection::ReleaseAll() {
    std::map<DWORD, CExport> objects;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        objects.swap(m_objects);
    }
    auto lock = m_server.EnterObjects();
    for (auto& entry : objects) {
        entry.second.pItf.Release();  // in export order, under the objects lock
    }
    m_server.ObjectsChanged(-static_cast<int>(objects.size()));
}
