#include "RpcChannel.h"

#include "RpcFrame.h"
#include "RpcSettings.h"

CRpcChannel::CRpcChannel(CRpcSocket&& socket) : m_socket(std::move(socket)) {
    m_watcher = std::thread(&CRpcChannel::Watch, this);
}

CRpcChannel::~CRpcChannel() {
    m_socket.Shutdown();
    m_watcher.join();
}

bool CRpcChannel::IsAlive() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return !m_bDead;
}

void CRpcChannel::Fail() {
    std::map<DWORD, std::shared_ptr<CPendingCall>> failed;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_bDead) {
            m_bDead = true;
            m_socket.Shutdown();
        }
        for (auto& entry : m_pending) {
            entry.second->m_bDone = true;
        }
        failed.swap(m_pending);
    }
    m_cvReader.notify_one();
    for (auto& entry : failed) {
        entry.second->m_cvDone.notify_one();
    }
}

bool CRpcChannel::Send(CRpcFrameWriter& frame, const CDeadline& deadline) {
    std::lock_guard<std::mutex> guard(m_sendMutex);
    return m_socket.SendFrame(frame, deadline);
}

void CRpcChannel::Watch() {
    // Answers do not wake this, only a hang-up or an error: the callers read
    // the answers themselves.
    WaitUntil(m_socket.GetHandle(), POLLRDHUP, CDeadline::Never());
    // The answers the server sent before it went are still handed over.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cvReader.wait(lock, [this] { return !m_bReading || m_bDead; });
    if (m_bDead) {
        return;
    }
    m_bReading = true;
    while (ReadAnswer(lock, CDeadline::Never())) {
    }
    StopReading();
}

bool CRpcChannel::ReadAnswer(std::unique_lock<std::mutex>& lock, const CDeadline& deadline) {
    lock.unlock();
    std::vector<BYTE> body;
    const CRpcSocket::EReceive got = m_socket.ReceiveFrame(body, deadline);
    if (got == CRpcSocket::RECEIVE_TIMEOUT) {
        lock.lock();
        return true;
    }
    if (got != CRpcSocket::RECEIVE_OK || body[0] != RPC_MSG_ANSWER) {
        Fail();
        lock.lock();
        return false;
    }
    DWORD dwCallId =
        DWORD(body[1]) | DWORD(body[2]) << 8 | DWORD(body[3]) << 16 | DWORD(body[4]) << 24;
    std::shared_ptr<CPendingCall> pCall;
    lock.lock();
    auto it = m_pending.find(dwCallId);
    if (it == m_pending.end()) {
        return true;  // the caller gave up before the answer came
    }
    pCall = std::move(it->second);
    m_pending.erase(it);
    pCall->m_answer.swap(body);
    pCall->m_bDone = true;
    // Woken without the lock held, the caller need not wait for it again.
    lock.unlock();
    pCall->m_cvDone.notify_one();
    lock.lock();
    return true;
}

void CRpcChannel::StopReading() {
    m_bReading = false;
    if (!m_pending.empty()) {
        m_pending.begin()->second->m_cvDone.notify_one();
    }
    m_cvReader.notify_one();
}

HRESULT CRpcChannel::Call(CRpcFrameWriter& request, CRpcFrameReader* pAnswer) {
    // One deadline for the whole call: its send, and the wait for its answer.
    const CDeadline deadline = CDeadline::AfterMillis(RpcGetCallTimeout());
    auto pCall = std::make_shared<CPendingCall>();
    CPendingCall& call = *pCall;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_bDead) {
            return RPC_E_DISCONNECTED;
        }
        DWORD dwCallId = m_dwNextCallId++;
        if (m_dwNextCallId == 0) {
            m_dwNextCallId = 1;
        }
        request.SetCallId(dwCallId);
        m_pending[dwCallId] = pCall;
    }
    if (!Send(request, deadline)) {
        Fail();
        return RPC_E_DISCONNECTED;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    bool bReading = false;
    while (!call.m_bDone && !deadline.HasPassed()) {
        if (!bReading && !m_bReading) {
            m_bReading = bReading = true;
        }
        if (bReading) {
            ReadAnswer(lock, deadline);
        } else {
            call.m_cvDone.wait_until(lock, deadline.When());
        }
    }
    if (bReading) {
        StopReading();
    }
    if (!call.m_bDone) {
        lock.unlock();
        Fail();
        return ERROR_TIMEOUT_HR;
    }
    if (call.m_answer.empty()) {
        return RPC_E_DISCONNECTED;
    }
    lock.unlock();
    // Skip the type and call id.
    *pAnswer = CRpcFrameReader(std::move(call.m_answer));
    BYTE byType;
    DWORD dwCallId;
    pAnswer->GetU8(byType);
    pAnswer->GetU32(dwCallId);
    return S_OK;
}

void CRpcChannel::Post(CRpcFrameWriter& message) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_bDead) {
            return;
        }
    }
    // A message without an answer (a release) waits at most this long for
    // room in the socket.
    constexpr int kPostMillis = 10000;
    if (!Send(message, CDeadline::AfterMillis(kPostMillis))) {
        Fail();
    }
}
