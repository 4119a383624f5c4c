#include "SimSerialServer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "wire/AsciiFrame.h"
#include "wire/AsciiParser.h"
#include "wire/RtuFrame.h"
#include "wire/RtuParser.h"

namespace {
using Clock = std::chrono::steady_clock;
using Kind = CSimFaultRule::Kind;

constexpr BYTE JUNK = 0xEE;
// An answer that cannot go out in this time is dropped.
constexpr int WRITE_TIMEOUT_MS = 2000;
}  // namespace

CSimSerialServer::CSimSerialServer(CSimDevice& device) : m_device(device) {
    // A request ends after 3.5 characters of silence, nothing longer.
    m_settings.m_nSilentInterval = 0;
}

CSimSerialServer::~CSimSerialServer() {
    Stop();
}

BOOL CSimSerialServer::ParseFormat(const CString& strFormat, CSerialSettings& settings) {
    if (strFormat.size() != 3 || (strFormat[0] != '7' && strFormat[0] != '8') ||
        (strFormat[2] != '1' && strFormat[2] != '2')) {
        return FALSE;
    }
    const CString strParities = "NOEM";
    const size_t nParity = strParities.find(strFormat[1]);
    if (nParity == CString::npos) {
        return FALSE;
    }
    settings.m_nByteSize = strFormat[0] - '0';
    settings.m_nParity = LONG(nParity);
    settings.m_nStopBits =
        strFormat[2] == '1' ? CSerialSettings::STOP_ONE : CSerialSettings::STOP_TWO;
    return TRUE;
}

void CSimSerialServer::Log(const CString& strLine) {
    if (m_log) {
        m_log(strLine);
    }
}

BOOL CSimSerialServer::Fail(const CString& strWhat) {
    m_strError = strWhat;
    if (errno != 0) {
        m_strError += CString(": ") + std::strerror(errno);
    }
    if (m_hPtyPeer >= 0) {
        ::close(m_hPtyPeer);
        m_hPtyPeer = -1;
    }
    if (m_hFile >= 0 && !m_line.IsOpen()) {
        ::close(m_hFile);
    }
    m_hFile = -1;
    m_line.Close();
    return FALSE;
}

BOOL CSimSerialServer::StartPty() {
    if (m_bRunning) {
        return TRUE;
    }
    m_strError.clear();
    m_hFile = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char szName[128];
    if (m_hFile < 0 || ::grantpt(m_hFile) != 0 || ::unlockpt(m_hFile) != 0 ||
        ::ptsname_r(m_hFile, szName, sizeof szName) != 0) {
        return Fail("cannot make a pseudo-terminal");
    }
    m_strPath = szName;
    m_hPtyPeer = ::open(szName, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    termios tio{};
    if (m_hPtyPeer < 0 || ::tcgetattr(m_hPtyPeer, &tio) != 0) {
        return Fail("cannot open " + m_strPath);
    }
    // No echo and no line editing before any master opens it.
    ::cfmakeraw(&tio);
    if (::tcsetattr(m_hPtyPeer, TCSANOW, &tio) != 0) {
        return Fail("cannot set up " + m_strPath);
    }
    return StartServing();
}

BOOL CSimSerialServer::StartDevice(const CString& strPath) {
    if (m_bRunning) {
        return TRUE;
    }
    m_strError.clear();
    m_settings.m_nMode =
        m_mode == EMode::RTU ? CSerialSettings::MODE_RTU : CSerialSettings::MODE_ASCII;
    if (!m_line.Open(strPath, m_settings)) {
        m_strError = m_line.GetError();
        return FALSE;
    }
    for (const CString& strWarning : m_line.GetWarnings()) {
        Log("warning: " + strWarning);
    }
    m_strPath = strPath;
    m_hFile = m_line.GetHandle();
    return StartServing();
}

BOOL CSimSerialServer::StartServing() {
    m_hStopEvent = ::eventfd(0, EFD_CLOEXEC);
    if (m_hStopEvent < 0) {
        return Fail("eventfd");
    }
    m_bRunning = TRUE;
    m_thread = std::thread(&CSimSerialServer::Serve, this);
    return TRUE;
}

void CSimSerialServer::Stop() {
    if (!m_bRunning) {
        return;
    }
    const ULONGLONG one = 1;
    if (::write(m_hStopEvent, &one, sizeof one) != sizeof one) {
        Log("stop: cannot signal the serving thread");
    }
    m_thread.join();
    ::close(m_hStopEvent);
    m_hStopEvent = -1;
    if (m_line.IsOpen()) {
        m_line.Close();
    } else {
        ::close(m_hFile);
    }
    m_hFile = -1;
    if (m_hPtyPeer >= 0) {
        ::close(m_hPtyPeer);
        m_hPtyPeer = -1;
    }
    m_bRunning = FALSE;
}

bool CSimSerialServer::Pause(int nMillis) {
    pollfd pfd{m_hStopEvent, POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return true;
        }
        const int rc = ::poll(&pfd, 1, int(left));
        if (rc > 0 || (rc < 0 && errno != EINTR)) {
            return false;
        }
    }
}

void CSimSerialServer::Serve() {
    CRtuParser rtu;
    CAsciiParser ascii;
    CFrameParser& parser = m_mode == EMode::RTU ? static_cast<CFrameParser&>(rtu) : ascii;
    parser.ExpectRequest();
    const LONGLONG nGapMicros = m_settings.GapMicros();
    BYTE buffer[512];
    for (;;) {
        // An RTU request that has begun ends with the first silence.
        const bool bFraming = m_mode == EMode::RTU && parser.HasStarted();
        timespec wait{0, 0};
        timespec* pWait = nullptr;
        if (bFraming) {
            wait.tv_nsec = long(nGapMicros % 1000000) * 1000;
            wait.tv_sec = time_t(nGapMicros / 1000000);
            pWait = &wait;
        }
        pollfd pfds[2] = {{m_hStopEvent, POLLIN, 0}, {m_hFile, POLLIN, 0}};
        const int rc = ::ppoll(pfds, 2, pWait, nullptr);
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            Log(CString("poll: ") + std::strerror(errno));
            return;
        }
        if (pfds[0].revents != 0) {
            return;
        }
        CFrameParser::EState state = CFrameParser::EState::NEED_MORE;
        size_t nRead = 0;
        if (rc == 0) {
            state = parser.EndOfFrame();
        } else {
            const ssize_t n = ::read(m_hFile, buffer, sizeof buffer);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            if (n <= 0) {
                // Nobody holds the other end (a tty that hung up): wait.
                if (!Pause(50)) {
                    return;
                }
                continue;
            }
            nRead = size_t(n);
        }
        size_t nDone = 0;
        do {
            if (nRead > 0) {
                size_t nUsed = 0;
                state = parser.Feed(buffer + nDone, nRead - nDone, &nUsed);
                nDone += nUsed;
            }
            if (state == CFrameParser::EState::COMPLETE) {
                Answer(parser.GetFrame());
            } else if (state != CFrameParser::EState::NEED_MORE) {
                Log("request dropped: bad checksum or framing");
            }
            if (state != CFrameParser::EState::NEED_MORE) {
                parser.ExpectRequest();
                state = CFrameParser::EState::NEED_MORE;
            }
        } while (nDone < nRead);
    }
}

CByteArray CSimSerialServer::Encode(const CByteArray& adu, bool bBadChecksum) const {
    if (m_mode == EMode::RTU) {
        CByteArray frame = CRtuFrame::Encode(adu.data(), adu.size());
        if (bBadChecksum) {
            frame.back() ^= 0xFF;
        }
        return frame;
    }
    CByteArray frame = CAsciiFrame::Encode(adu.data(), adu.size());
    if (bBadChecksum) {
        // The LRC's two digits sit before CR LF.
        const BYTE byWrong = static_cast<BYTE>(CAsciiFrame::Lrc(adu.data(), adu.size()) ^ 0x5A);
        const char szHex[] = "0123456789ABCDEF";
        frame[frame.size() - 4] = static_cast<BYTE>(szHex[byWrong >> 4]);
        frame[frame.size() - 3] = static_cast<BYTE>(szHex[byWrong & 0x0F]);
    }
    return frame;
}

void CSimSerialServer::Answer(const CByteArray& request) {
    const ULONGLONG nRequest = ++m_nRequests;
    const BYTE unit = request[0];
    const BYTE* pdu = request.data() + 1;
    const size_t n = request.size() - 1;
    CSimFaultRule fault;
    const bool bFault = m_faults.Match(nRequest, pdu, n, fault);
    if (m_log) {
        char szText[80];
        std::snprintf(szText, sizeof szText, "request %llu: unit %u function %u",
                      static_cast<unsigned long long>(nRequest), unit, pdu[0]);
        Log(szText + (bFault ? ", fault " + CSimFaults::Describe(fault) : CString()));
    }
    CByteArray answer;
    if (bFault) {
        switch (fault.m_kind) {
            case Kind::Close:
            case Kind::NoAnswer:
                return;
            case Kind::Exception:
                answer = {static_cast<BYTE>(pdu[0] | 0x80), static_cast<BYTE>(fault.m_dwValue)};
                break;
            default:
                break;
        }
    }
    if (answer.empty() && !m_device.ProcessPdu(unit, pdu, n, answer)) {
        return;
    }
    if (unit == 0) {
        return;  // a broadcast is carried out, never answered
    }
    const Kind kind = bFault ? fault.m_kind : Kind::Delay;
    if (bFault && kind == Kind::Delay && !Pause(int(fault.m_dwValue))) {
        return;
    }
    if (bFault && kind == Kind::CutShort && fault.m_dwValue < answer.size()) {
        answer.resize(fault.m_dwValue);
    }
    if (bFault && kind == Kind::BadLength && answer.size() >= 2 && answer[0] >= 1 &&
        answer[0] <= 4) {
        answer[1] = static_cast<BYTE>(answer[1] + fault.ValueOr(1));
    }
    CByteArray adu{unit};
    adu.insert(adu.end(), answer.begin(), answer.end());
    if (bFault && kind == Kind::WrongUnit) {
        adu[0] = static_cast<BYTE>(fault.ValueOr(static_cast<BYTE>(unit + 1)));
    }
    if (bFault && kind == Kind::WrongFunction && adu.size() > 1) {
        adu[1] = static_cast<BYTE>(fault.ValueOr(static_cast<BYTE>(pdu[0] % 127 + 1)));
    }
    CByteArray out;
    if (bFault && kind == Kind::Garbage) {
        out.assign(fault.m_dwValue, JUNK);
    }
    const CByteArray frame = Encode(adu, bFault && kind == Kind::BadCrc);
    out.insert(out.end(), frame.begin(), frame.end());
    if (bFault && kind == Kind::ExtraBytes) {
        if (!fault.m_extra.empty()) {
            out.insert(out.end(), fault.m_extra.begin(), fault.m_extra.end());
        } else {
            out.insert(out.end(), fault.m_dwValue, JUNK);
        }
    }
    Send(out, bFault ? &fault : nullptr);
}

bool CSimSerialServer::Write(const BYTE* pb, size_t n) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(WRITE_TIMEOUT_MS);
    while (n > 0) {
        const ssize_t nWritten = ::write(m_hFile, pb, n);
        if (nWritten > 0) {
            pb += nWritten;
            n -= size_t(nWritten);
            continue;
        }
        if (nWritten < 0 && errno != EAGAIN && errno != EINTR) {
            Log(CString("write: ") + std::strerror(errno));
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd pfds[2] = {{m_hStopEvent, POLLIN, 0}, {m_hFile, POLLOUT, 0}};
        if (left <= 0 || ::poll(pfds, 2, int(left)) <= 0 || pfds[0].revents != 0) {
            Log("answer dropped: the line does not take it");
            return false;
        }
    }
    return true;
}

bool CSimSerialServer::Send(const CByteArray& out, const CSimFaultRule* pFault) {
    const Kind kind = pFault != nullptr ? pFault->m_kind : Kind::Delay;
    if (pFault != nullptr && kind == Kind::Gap) {
        const size_t nHalf = out.size() / 2;
        return Write(out.data(), nHalf) && Pause(int(pFault->m_dwValue)) &&
               Write(out.data() + nHalf, out.size() - nHalf);
    }
    if (pFault != nullptr && kind == Kind::SplitHeader && out.size() > 6) {
        const int nPause = int(pFault->ValueOr(20));
        return Write(out.data(), 3) && Pause(nPause) && Write(out.data() + 3, 3) && Pause(nPause) &&
               Write(out.data() + 6, out.size() - 6);
    }
    if (pFault != nullptr && kind == Kind::ByteByByte) {
        const int nPause = int(pFault->ValueOr(2));
        for (size_t i = 0; i < out.size(); ++i) {
            if ((i > 0 && !Pause(nPause)) || !Write(&out[i], 1)) {
                return false;
            }
        }
        return true;
    }
    return Write(out.data(), out.size());
}
