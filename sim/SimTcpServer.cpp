#include "SimTcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "wire/MbapFramer.h"

namespace {
using Clock = std::chrono::steady_clock;
using Kind = CSimFaultRule::Kind;

constexpr size_t MBAP_SIZE = CMbapFramer::HEADER_SIZE;
// A connection thread would otherwise sit forever on a peer that stopped reading.
constexpr int SEND_TIMEOUT_MS = 2000;
// How often the accept loop looks for ended connections to release.
constexpr int REAP_INTERVAL_MS = 250;

CString ErrnoText() {
    return std::strerror(errno);
}
}  // namespace

CSimTcpServer::CSimTcpServer(CSimDevice& device) : m_device(device) {}

CSimTcpServer::~CSimTcpServer() {
    Stop();
}

BOOL CSimTcpServer::Fail(const CString& strWhat) {
    m_strError = strWhat + ": " + ErrnoText();
    if (m_hListen >= 0) {
        ::close(m_hListen);
        m_hListen = -1;
    }
    if (m_hStopEvent >= 0) {
        ::close(m_hStopEvent);
        m_hStopEvent = -1;
    }
    return FALSE;
}

BOOL CSimTcpServer::Start() {
    if (m_bRunning) {
        return TRUE;
    }
    m_strError.clear();
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(m_nPort);
    if (::inet_pton(AF_INET, m_strAddress.c_str(), &sa.sin_addr) != 1) {
        m_strError = "not a dotted IPv4 address: '" + m_strAddress + "'";
        return FALSE;
    }
    m_hStopEvent = ::eventfd(0, EFD_CLOEXEC);
    if (m_hStopEvent < 0) {
        return Fail("eventfd");
    }
    m_hListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_hListen < 0) {
        return Fail("socket");
    }
    int one = 1;
    ::setsockopt(m_hListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(m_hListen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        return Fail("bind " + m_strAddress + ":" + std::to_string(m_nPort));
    }
    if (::listen(m_hListen, 16) != 0) {
        return Fail("listen");
    }
    socklen_t len = sizeof sa;
    if (::getsockname(m_hListen, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return Fail("getsockname");
    }
    m_nPort = ntohs(sa.sin_port);
    m_bRunning = TRUE;
    m_acceptThread = std::thread(&CSimTcpServer::AcceptLoop, this);
    return TRUE;
}

void CSimTcpServer::Stop() {
    if (!m_bRunning) {
        return;
    }
    ULONGLONG one = 1;
    if (::write(m_hStopEvent, &one, sizeof one) != sizeof one) {
        Log("stop: cannot signal the serving threads: " + ErrnoText());
    }
    m_acceptThread.join();
    ::close(m_hListen);
    m_hListen = -1;
    m_connections.Reap(true);
    ::close(m_hStopEvent);
    m_hStopEvent = -1;
    m_bRunning = FALSE;
}

void CSimTcpServer::Log(const CString& strLine) {
    if (m_log) {
        m_log(strLine);
    }
}

bool CSimTcpServer::Pause(int nMillis) {
    // Rounded up: a delay rule is a floor a client can measure against.
    const auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return true;
        }
        pollfd pfd{m_hStopEvent, POLLIN, 0};
        int rc = ::poll(&pfd, 1, static_cast<int>(left));
        if (rc > 0) {
            return false;
        }
        if (rc < 0 && errno != EINTR) {
            return false;
        }
    }
}

void CSimTcpServer::AcceptLoop() {
    for (;;) {
        pollfd pfds[2] = {{m_hStopEvent, POLLIN, 0}, {m_hListen, POLLIN, 0}};
        int rc = ::poll(pfds, 2, REAP_INTERVAL_MS);
        if (rc < 0 && errno != EINTR) {
            Log("poll: " + ErrnoText());
            return;
        }
        if (pfds[0].revents != 0) {
            return;
        }
        m_connections.Reap(false);
        if (rc <= 0 || (pfds[1].revents & POLLIN) == 0) {
            continue;
        }
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int hSocket = ::accept4(m_hListen, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (hSocket < 0) {
            continue;
        }
        const ULONGLONG nId = ++m_nConnections;
        char text[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        CString strPeer = CString(text) + ":" + std::to_string(ntohs(peer.sin_port));
        if (m_connections.GetCount() >= m_nMaxConnections) {
            Log("connection " + std::to_string(nId) + " from " + strPeer +
                " refused: too many connections");
            ::close(hSocket);
            continue;
        }
        // Answers go out as soon as they are written, split where a fault
        // splits them.
        int one = 1;
        ::setsockopt(hSocket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval tv{SEND_TIMEOUT_MS / 1000, (SEND_TIMEOUT_MS % 1000) * 1000};
        ::setsockopt(hSocket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        Log("connection " + std::to_string(nId) + " from " + strPeer);
        m_connections.Start(hSocket, nId, [this](CConnection& connection) { Serve(&connection); });
    }
}

void CSimTcpServer::Serve(CConnection* pConnection) {
    const int hSocket = pConnection->m_hSocket;
    const CString strName = "connection " + std::to_string(pConnection->m_nId);
    CMbapFramer framer;
    const auto end = framer.Serve(hSocket, m_hStopEvent, [&](const BYTE* frame, size_t nFrame) {
        return HandleRequest(pConnection, frame, nFrame);
    });
    if (end == CMbapFramer::EEnd::PeerClosed) {
        Log(strName + " closed by the peer");
    } else if (end == CMbapFramer::EEnd::Malformed) {
        Log(strName + ": malformed header (protocol " + std::to_string(framer.GetProtocol()) +
            ", length " + std::to_string(framer.GetLength()) + "), closing");
    }
    // The descriptor itself is closed by Reap once this thread is joined, so
    // that its number cannot be reused while the server still holds it.
    ::shutdown(hSocket, SHUT_RDWR);
}

bool CSimTcpServer::HandleRequest(CConnection* pConnection, const BYTE* frame, size_t nFrame) {
    const ULONGLONG nRequest = ++m_nRequests;
    const BYTE unit = frame[6];
    const BYTE* pdu = frame + MBAP_SIZE;
    const size_t n = nFrame - MBAP_SIZE;
    CSimFaultRule fault;
    const bool bFault = m_faults.Match(nRequest, pdu, n, fault);
    if (m_log) {
        char text[96];
        std::snprintf(text, sizeof text, "connection %llu request %llu: unit %u function %u",
                      static_cast<unsigned long long>(pConnection->m_nId),
                      static_cast<unsigned long long>(nRequest), unit, pdu[0]);
        Log(text + (bFault ? ", fault " + CSimFaults::Describe(fault) : CString()));
    }
    CByteArray answer;
    if (bFault) {
        switch (fault.m_kind) {
            case Kind::Close:
                return false;
            case Kind::NoAnswer:
                return true;
            case Kind::Exception:
                answer = {static_cast<BYTE>(pdu[0] | 0x80), static_cast<BYTE>(fault.m_dwValue)};
                break;
            default:
                break;
        }
    }
    if (answer.empty() && !m_device.ProcessPdu(unit, pdu, n, answer)) {
        // No device behind this unit id: like a gateway, say nothing.
        return true;
    }
    if (bFault && fault.m_kind == Kind::Delay && !Pause(static_cast<int>(fault.m_dwValue))) {
        return false;
    }
    if (bFault && fault.m_kind == Kind::CutShort && fault.m_dwValue < answer.size()) {
        answer.resize(fault.m_dwValue);
    }
    CByteArray out = CMbapFramer::Answer(
        frame, unit, answer, bFault && fault.m_kind == Kind::BadLength ? fault.ValueOr(1) : 0);
    if (bFault && fault.m_kind == Kind::WrongUnit) {
        out[6] = static_cast<BYTE>(fault.ValueOr(static_cast<BYTE>(unit + 1)));
    }
    if (bFault && fault.m_kind == Kind::WrongFunction && out.size() > MBAP_SIZE) {
        out[7] = static_cast<BYTE>(fault.ValueOr(static_cast<BYTE>(pdu[0] % 127 + 1)));
    }
    if (bFault && fault.m_kind == Kind::ExtraBytes) {
        if (!fault.m_extra.empty()) {
            out.insert(out.end(), fault.m_extra.begin(), fault.m_extra.end());
        } else {
            out.insert(out.end(), fault.m_dwValue, 0xEE);
        }
    }
    return SendAnswer(pConnection->m_hSocket, out, bFault ? &fault : nullptr);
}

bool CSimTcpServer::SendAnswer(int hSocket, const CByteArray& out, const CSimFaultRule* pFault) {
    if (pFault != nullptr && pFault->m_kind == Kind::SplitHeader) {
        const int nPause = static_cast<int>(pFault->ValueOr(20));
        return CMbapFramer::Send(hSocket, out.data(), 3) && Pause(nPause) &&
               CMbapFramer::Send(hSocket, out.data() + 3, 3) && Pause(nPause) &&
               CMbapFramer::Send(hSocket, out.data() + 6, out.size() - 6);
    }
    if (pFault != nullptr && pFault->m_kind == Kind::ByteByByte) {
        const int nPause = static_cast<int>(pFault->ValueOr(2));
        for (size_t i = 0; i < out.size(); ++i) {
            if ((i > 0 && !Pause(nPause)) || !CMbapFramer::Send(hSocket, &out[i], 1)) {
                return false;
            }
        }
        return true;
    }
    return CMbapFramer::Send(hSocket, out.data(), out.size());
}
