#include "GreetingServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <vector>

#include "platform/com/rpc/RpcFrame.h"
#include "platform/com/rpc/RpcSettings.h"
#include "platform/com/rpc/RpcSocket.h"
#include "serialapi/ModbusSerialServer.h"

namespace {
// The thread looks at its stop flag this often, and gives up after this
// many looks: no test waits that long for it.
constexpr int kStepMillis = 50;
constexpr int kMaxSteps = 600;
// How long a greeted client has to send what it sends.
constexpr int kClientMillis = 2000;
}  // namespace

CGreetingServer::CGreetingServer(const std::string& strRuntimeDir, WORD wVersion)
    : m_strPath(strRuntimeDir + "/" + RpcGuidToName(CLSID_ModbusSerialServer) + ".sock"),
      m_wVersion(wVersion) {
    CUniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (!listener || m_strPath.size() >= sizeof addr.sun_path) {
        return;
    }
    std::memcpy(addr.sun_path, m_strPath.c_str(), m_strPath.size() + 1);
    if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener.Get(), 4) != 0) {
        return;
    }
    m_listener = std::move(listener);
    m_thread = std::thread(&CGreetingServer::Serve, this);
}

void CGreetingServer::Stop() {
    m_bStop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_listener) {
        ::unlink(m_strPath.c_str());
        m_listener.Reset();
    }
}

void CGreetingServer::Serve() {
    for (int nStep = 0; nStep < kMaxSteps && !m_bStop; ++nStep) {
        pollfd p{m_listener.Get(), POLLIN, 0};
        if (::poll(&p, 1, kStepMillis) != 1) {
            continue;
        }
        CRpcSocket client(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client.IsOpen()) {
            continue;
        }
        ++m_nGreeted;
        CRpcFrameWriter hello(RPC_MSG_HELLO, 0);
        hello.PutU32(RPC_MAGIC);
        hello.PutU16(m_wVersion);
        if (!client.SendFrame(hello, kClientMillis)) {
            continue;
        }
        std::vector<BYTE> body;
        for (int i = 0;
             i < 16 && client.ReceiveFrame(body, kClientMillis) == CRpcSocket::RECEIVE_OK; ++i) {
            ++m_nFrames;
        }
    }
}
