#include "SimTcpServer.h"

#include <sys/socket.h>

#include "SimAnswer.h"
#include "SimTls.h"
#include "wire/MbapFramer.h"
#include "wire/SocketStream.h"

namespace {
constexpr size_t MBAP_SIZE = CMbapFramer::HEADER_SIZE;
}  // namespace

CSimTcpServer::CSimTcpServer(CSimDevice& device) : m_device(device) {}

CSimTcpServer::~CSimTcpServer() {
    Stop();
}

BOOL CSimTcpServer::Start() {
    if (IsRunning()) {
        return TRUE;
    }
    CTcpListener::CHooks hooks;
    hooks.admit = [this](CConnectionThreads& connections, ULONGLONG nId, const CString& strPeer) {
        if (connections.GetCount() >= m_nMaxConnections) {
            Log("connection " + std::to_string(nId) + " from " + strPeer +
                " refused: too many connections");
            return false;
        }
        Log("connection " + std::to_string(nId) + " from " + strPeer);
        return true;
    };
    hooks.serve = [this](CConnection& connection) { Serve(&connection); };
    if (!m_listener.Start(m_strAddress, m_nPort, std::move(hooks))) {
        return FALSE;
    }
    m_nPort = m_listener.GetPort();
    return TRUE;
}

void CSimTcpServer::Stop() {
    if (IsRunning() && !m_listener.Stop()) {
        Log("stop: cannot signal the serving threads");
    }
}

void CSimTcpServer::Log(const CString& strLine) {
    if (m_log) {
        m_log(strLine);
    }
}

std::unique_ptr<CByteStream> CSimTcpServer::OpenStream(int hSocket, const CString& strName) {
    if (!m_pTls) {
        return std::make_unique<CSocketStream>(hSocket);
    }
    CString strWhy;
    auto pStream = m_pTls->Accept(hSocket, m_listener.GetStopEvent().Get(),
                                  CSimTls::HANDSHAKE_TIMEOUT_MS, strWhy);
    if (!pStream) {
        Log(strName + ": TLS refused: " + strWhy);
    }
    return pStream;
}

void CSimTcpServer::Serve(CConnection* pConnection) {
    const int hSocket = pConnection->m_hSocket;
    const CString strName = "connection " + std::to_string(pConnection->m_nId);
    if (auto pStream = OpenStream(hSocket, strName)) {
        CMbapFramer framer;
        const auto end = framer.Serve(
            *pStream, m_listener.GetStopEvent().Get(), [&](const BYTE* frame, size_t nFrame) {
                return HandleRequest(pConnection, *pStream, frame, nFrame);
            });
        if (end == CMbapFramer::EEnd::PeerClosed) {
            Log(strName + " closed by the peer");
        } else if (end == CMbapFramer::EEnd::Malformed) {
            Log(strName + ": malformed header (protocol " + std::to_string(framer.GetProtocol()) +
                ", length " + std::to_string(framer.GetLength()) + "), closing");
        }
    }
    // The descriptor itself is closed by Reap once this thread is joined, so
    // that its number cannot be reused while the server still holds it.
    ::shutdown(hSocket, SHUT_RDWR);
}

bool CSimTcpServer::HandleRequest(CConnection* pConnection, CByteStream& stream, const BYTE* frame,
                                  size_t nFrame) {
    const ULONGLONG nRequest = ++m_nRequests;
    const BYTE unit = frame[MBAP_SIZE - 1];
    const BYTE* pdu = frame + MBAP_SIZE;
    const size_t n = nFrame - MBAP_SIZE;
    CSimFaultRule fault;
    const CSimFaultRule* pFault = m_faults.Match(nRequest, pdu, n, fault) ? &fault : nullptr;
    if (m_log) {
        Log("connection " + std::to_string(pConnection->m_nId) + " " +
            CSimAnswer::Describe(nRequest, unit, pdu[0], pFault));
    }
    const CSimAnswer answer =
        CSimAnswer::Make(CSimAnswer::ELink::TCP, m_device, unit, pdu, n, pFault);
    if (answer.m_action != CSimAnswer::EAction::SEND) {
        return answer.m_action == CSimAnswer::EAction::SILENT;
    }
    const CStopEvent& stop = m_listener.GetStopEvent();
    return answer.Send(
        CMbapFramer::Answer(frame, answer.m_unit, answer.m_pdu, answer.m_nLengthBias),
        [&stream](const BYTE* pb, size_t nBytes) { return stream.Send(pb, nBytes); },
        [&stop](int nMillis) { return stop.Wait(nMillis); });
}
