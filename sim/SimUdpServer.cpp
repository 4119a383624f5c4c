#include "SimUdpServer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "SimAnswer.h"
#include "wire/MbapFramer.h"

namespace {
constexpr size_t MBAP_SIZE = CMbapFramer::HEADER_SIZE;

CString PeerName(const sockaddr_in& sa) {
    char szAddress[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &sa.sin_addr, szAddress, sizeof szAddress);
    return CString(szAddress) + ":" + std::to_string(ntohs(sa.sin_port));
}
}  // namespace

CSimUdpServer::CSimUdpServer(CSimDevice& device) : m_device(device) {}

CSimUdpServer::~CSimUdpServer() {
    Stop();
}

void CSimUdpServer::Log(const CString& strLine) {
    if (m_log) {
        m_log(strLine);
    }
}

BOOL CSimUdpServer::Fail(const CString& strWhat) {
    m_strError = strWhat + ": " + std::strerror(errno);
    m_hSocket.Reset();
    m_stop.Close();
    return FALSE;
}

BOOL CSimUdpServer::Start() {
    if (IsRunning()) {
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
    if (!m_stop.Create()) {
        return Fail("eventfd");
    }
    m_hSocket.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    socklen_t len = sizeof sa;
    if (!m_hSocket) {
        return Fail("socket");
    }
    if (::bind(m_hSocket.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        return Fail("bind " + m_strAddress + ":" + std::to_string(m_nPort));
    }
    if (::getsockname(m_hSocket.Get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return Fail("getsockname");
    }
    m_nPort = ntohs(sa.sin_port);
    m_thread = std::thread(&CSimUdpServer::Serve, this);
    return TRUE;
}

void CSimUdpServer::Stop() {
    if (!IsRunning()) {
        return;
    }
    if (!m_stop.Signal()) {
        Log("stop: cannot signal the serving thread");
    }
    m_thread.join();
    m_hSocket.Reset();
    m_stop.Close();
}

void CSimUdpServer::Serve() {
    BYTE datagram[1024];
    for (;;) {
        pollfd pfds[2] = {{m_stop.Get(), POLLIN, 0}, {m_hSocket.Get(), POLLIN, 0}};
        if (::poll(pfds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            Log(CString("poll: ") + std::strerror(errno));
            return;
        }
        if (pfds[0].revents != 0) {
            return;
        }
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(m_hSocket.Get(), datagram, sizeof datagram, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) {
            continue;  // interrupted, or an ICMP error of an earlier answer
        }
        const size_t nLength = n >= 6 ? size_t((datagram[4] << 8) | datagram[5]) : 0;
        if (size_t(n) < MBAP_SIZE + 1 || datagram[2] != 0 || datagram[3] != 0 ||
            nLength != size_t(n) - (MBAP_SIZE - 1)) {
            Log("datagram of " + std::to_string(n) + " bytes from " + PeerName(from) +
                " dropped: not a Modbus/TCP frame");
            continue;
        }
        Answer(datagram, size_t(n), from);
    }
}

void CSimUdpServer::Answer(const BYTE* pbFrame, size_t n, const sockaddr_in& from) {
    const ULONGLONG nRequest = ++m_nRequests;
    const BYTE unit = pbFrame[MBAP_SIZE - 1];
    const BYTE* pdu = pbFrame + MBAP_SIZE;
    const size_t nPdu = n - MBAP_SIZE;
    CSimFaultRule fault;
    const CSimFaultRule* pFault = m_faults.Match(nRequest, pdu, nPdu, fault) ? &fault : nullptr;
    if (m_log) {
        Log(PeerName(from) + " " + CSimAnswer::Describe(nRequest, unit, pdu[0], pFault));
    }
    const CSimAnswer answer =
        CSimAnswer::Make(CSimAnswer::ELink::UDP, m_device, unit, pdu, nPdu, pFault);
    if (answer.m_action != CSimAnswer::EAction::SEND) {
        return;
    }
    const int hSocket = m_hSocket.Get();
    answer.Send(
        CMbapFramer::Answer(pbFrame, answer.m_unit, answer.m_pdu, answer.m_nLengthBias),
        [hSocket, &from](const BYTE* pb, size_t nBytes) {
            return ::sendto(hSocket, pb, nBytes, 0, reinterpret_cast<const sockaddr*>(&from),
                            sizeof from) == ssize_t(nBytes);
        },
        [this](int nMillis) { return m_stop.Wait(nMillis); });
}
