#include "RpcChannel.h"

#include <chrono>

#include "RpcFrame.h"

namespace {
// Sends wait at most this long for room in the socket.
constexpr int kSendMillis = 10000;
}  // namespace

CRpcChannel::CRpcChannel(CRpcSocket&& socket, DWORD dwCallTimeout)
    : m_socket(std::move(socket)), m_dwCallTimeout(dwCallTimeout) {
    m_reader = std::thread(&CRpcChannel::ReadAnswers, this);
}

CRpcChannel::~CRpcChannel() {
    m_socket.Shutdown();
    m_reader.join();
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
    for (auto& entry : failed) {
        entry.second->m_cvDone.notify_one();
    }
}

bool CRpcChannel::Send(CRpcFrameWriter& frame) {
    std::lock_guard<std::mutex> guard(m_sendMutex);
    return m_socket.SendFrame(frame, kSendMillis);
}

void CRpcChannel::ReadAnswers() {
    std::vector<BYTE> body;
    for (;;) {
        if (m_socket.ReceiveFrame(body, -1) != CRpcSocket::RECEIVE_OK ||
            body[0] != RPC_MSG_ANSWER) {
            break;
        }
        DWORD dwCallId =
            DWORD(body[1]) | DWORD(body[2]) << 8 | DWORD(body[3]) << 16 | DWORD(body[4]) << 24;
        std::shared_ptr<CPendingCall> pCall;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            auto it = m_pending.find(dwCallId);
            if (it == m_pending.end()) {
                continue;  // the caller gave up before the answer came
            }
            pCall = std::move(it->second);
            m_pending.erase(it);
            pCall->m_answer.swap(body);
            pCall->m_bDone = true;
        }
        // Woken without the lock held, the caller need not wait for it again.
        pCall->m_cvDone.notify_one();
    }
    Fail();
}

HRESULT CRpcChannel::Call(CRpcFrameWriter& request, CRpcFrameReader* pAnswer) {
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
    if (!Send(request)) {
        Fail();
        return RPC_E_DISCONNECTED;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    bool bDone = call.m_cvDone.wait_for(lock, std::chrono::milliseconds(m_dwCallTimeout),
                                        [&call] { return call.m_bDone; });
    if (!bDone) {
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
    if (!Send(message)) {
        Fail();
    }
}
