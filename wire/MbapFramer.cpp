#include "MbapFramer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "SocketStream.h"

CMbapFramer::EEnd CMbapFramer::Serve(int hSocket, int hStopEvent, const Handler& onRequest) {
    CSocketStream stream(hSocket);
    return Serve(stream, hStopEvent, onRequest);
}

CMbapFramer::EEnd CMbapFramer::Serve(CByteStream& stream, int hStopEvent,
                                     const Handler& onRequest) {
    BYTE chunk[512];
    bool bWait = !stream.HasPending();
    for (;;) {
        if (bWait) {
            pollfd pfds[2] = {{hStopEvent, POLLIN, 0}, {stream.Handle(), POLLIN, 0}};
            const int rc = ::poll(pfds, 2, -1);
            if (rc < 0 && errno == EINTR) {
                continue;
            }
            if (rc < 0 || pfds[0].revents != 0) {
                return EEnd::Stopped;
            }
        }
        const ssize_t n = stream.Receive(chunk, sizeof chunk);
        if (n == 0) {
            return EEnd::PeerClosed;
        }
        bWait = n < 0 || !stream.HasPending();
        if (n < 0) {
            continue;
        }
        m_pending.insert(m_pending.end(), chunk, chunk + n);
        EEnd end = EEnd::Stopped;
        if (!Dispatch(onRequest, end)) {
            return end;
        }
    }
}

bool CMbapFramer::Dispatch(const Handler& onRequest, EEnd& end) {
    while (m_pending.size() >= HEADER_SIZE - 1) {
        m_wProtocol = static_cast<WORD>((m_pending[2] << 8) | m_pending[3]);
        m_wLength = static_cast<WORD>((m_pending[4] << 8) | m_pending[5]);
        if (m_wProtocol != 0 || m_wLength < 2 || m_wLength > MAX_LENGTH_FIELD) {
            end = EEnd::Malformed;
            return false;
        }
        const size_t nFrame = HEADER_SIZE - 1 + size_t(m_wLength);
        if (m_pending.size() < nFrame) {
            break;
        }
        const bool bGoOn = onRequest(m_pending.data(), nFrame);
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(nFrame));
        if (!bGoOn) {
            end = EEnd::Refused;
            return false;
        }
    }
    return true;
}

CByteArray CMbapFramer::Answer(const BYTE* pbRequest, BYTE unit, const CByteArray& pdu,
                               size_t nLengthBias) {
    CByteArray out(pbRequest, pbRequest + 4);  // transaction and protocol ids
    const size_t nLength = 1 + pdu.size() + nLengthBias;
    out.push_back(static_cast<BYTE>(nLength >> 8));
    out.push_back(static_cast<BYTE>(nLength));
    out.push_back(unit);
    out.insert(out.end(), pdu.begin(), pdu.end());
    return out;
}

bool CMbapFramer::Send(int hSocket, const BYTE* pb, size_t n) {
    return CSocketStream(hSocket).Send(pb, n);
}
