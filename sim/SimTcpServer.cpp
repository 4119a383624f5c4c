#include "SimTcpServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "SimAnswer.h"
#include "SimTls.h"
#include "platform/Deadline.h"
#include "wire/MbapFramer.h"
#include "wire/RtuParser.h"
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
    if (m_framing == EFraming::RTU) {
        ServeRtu(pConnection);
    } else if (auto pStream = OpenStream(hSocket, strName)) {
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

void CSimTcpServer::ServeRtu(CConnection* pConnection) {
    const int hSocket = pConnection->m_hSocket;
    CSocketStream stream(hSocket);
    CRtuParser parser;
    parser.ExpectRequest();
    BYTE chunk[512];
    for (;;) {
        const CDeadline quiet =
            parser.HasStarted() ? CDeadline::AfterMillis(RTU_QUIET_MS) : CDeadline::Never();
        pollfd pfds[2] = {{m_listener.GetStopEvent().Get(), POLLIN, 0}, {hSocket, POLLIN, 0}};
        const int rc = WaitUntil(pfds, 2, quiet);
        if (rc < 0 || pfds[0].revents != 0) {
            return;
        }
        if (rc == 0) {
            // The pause ends a request whose function gave no length.
            if (TakeRtu(pConnection, stream, parser, parser.EndOfFrame()) == ETake::END) {
                return;
            }
            continue;
        }
        const ssize_t n = ::recv(hSocket, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Log("connection " + std::to_string(pConnection->m_nId) + " closed by the peer");
            return;
        }
        for (size_t nDone = 0; nDone < size_t(n);) {
            size_t nUsed = 0;
            const ETake take = TakeRtu(pConnection, stream, parser,
                                       parser.Feed(chunk + nDone, size_t(n) - nDone, &nUsed));
            nDone += nUsed;
            if (take == ETake::END) {
                return;
            }
            // What came with a broken request goes with it.
            if (take == ETake::DROPPED) {
                break;
            }
        }
    }
}

CSimTcpServer::ETake CSimTcpServer::TakeRtu(CConnection* pConnection, CByteStream& stream,
                                            CFrameParser& parser, CFrameParser::EState state) {
    if (state == CFrameParser::EState::NEED_MORE) {
        return ETake::MORE;
    }
    const bool bComplete = state == CFrameParser::EState::COMPLETE;
    bool bGoOn = true;
    if (bComplete) {
        const CByteArray& f = parser.GetFrame();
        bGoOn = Answer(pConnection, stream, CSimAnswer::ELink::RTU_OVER_TCP, f[0], f.data() + 1,
                       f.size() - 1, [](const CSimAnswer& a) { return a.RtuFrame(); });
    } else {
        Log("connection " + std::to_string(pConnection->m_nId) +
            ": request dropped: bad checksum or framing");
    }
    parser.ExpectRequest();
    return !bGoOn ? ETake::END : bComplete ? ETake::ANSWERED : ETake::DROPPED;
}

bool CSimTcpServer::HandleRequest(CConnection* pConnection, CByteStream& stream, const BYTE* frame,
                                  size_t nFrame) {
    return Answer(pConnection, stream, CSimAnswer::ELink::TCP, frame[MBAP_SIZE - 1],
                  frame + MBAP_SIZE, nFrame - MBAP_SIZE, [frame](const CSimAnswer& a) {
                      return CMbapFramer::Answer(frame, a.m_unit, a.m_pdu, a.m_nLengthBias);
                  });
}

bool CSimTcpServer::Answer(CConnection* pConnection, CByteStream& stream, CSimAnswer::ELink link,
                           BYTE unit, const BYTE* pdu, size_t n, const Frame& frame) {
    const ULONGLONG nRequest = ++m_nRequests;
    CSimFaultRule fault;
    const CSimFaultRule* pFault = m_faults.Match(nRequest, pdu, n, fault) ? &fault : nullptr;
    if (m_log) {
        Log("connection " + std::to_string(pConnection->m_nId) + " " +
            CSimAnswer::Describe(nRequest, unit, pdu[0], pFault));
    }
    const CSimAnswer answer = CSimAnswer::Make(link, m_device, unit, pdu, n, pFault);
    if (answer.m_action != CSimAnswer::EAction::SEND) {
        return answer.m_action == CSimAnswer::EAction::SILENT;
    }
    const CStopEvent& stop = m_listener.GetStopEvent();
    return answer.Send(
        frame(answer), [&stream](const BYTE* pb, size_t nBytes) { return stream.Send(pb, nBytes); },
        [&stop](int nMillis) { return stop.Wait(nMillis); });
}
