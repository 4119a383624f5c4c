#include "SimSerialServer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "SimAnswer.h"
#include "platform/Deadline.h"
#include "wire/AsciiFrame.h"
#include "wire/AsciiParser.h"
#include "wire/RtuParser.h"

namespace {
// An answer that cannot go out in this time is dropped.
constexpr int WRITE_TIMEOUT_MS = 2000;
// How often a line nobody holds is looked at again.
constexpr int HANGUP_RETRY_MS = 50;
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
    m_hPtyPeer.Reset();
    m_hPtyMaster.Reset();
    m_hFile = -1;
    m_line.Close();
    return FALSE;
}

BOOL CSimSerialServer::StartPty() {
    if (m_bRunning) {
        return TRUE;
    }
    m_strError.clear();
    m_hPtyMaster.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    m_hFile = m_hPtyMaster.Get();
    char szName[128];
    if (m_hFile < 0 || ::grantpt(m_hFile) != 0 || ::unlockpt(m_hFile) != 0 ||
        ::ptsname_r(m_hFile, szName, sizeof szName) != 0) {
        return Fail("cannot make a pseudo-terminal");
    }
    m_strPath = szName;
    m_hPtyPeer.Reset(::open(szName, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    termios tio{};
    if (!m_hPtyPeer || ::tcgetattr(m_hPtyPeer.Get(), &tio) != 0) {
        return Fail("cannot open " + m_strPath);
    }
    // No echo and no line editing before any master opens it.
    ::cfmakeraw(&tio);
    if (::tcsetattr(m_hPtyPeer.Get(), TCSANOW, &tio) != 0) {
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
    if (!m_stop.Create()) {
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
    if (!m_stop.Signal()) {
        Log("stop: cannot signal the serving thread");
    }
    m_thread.join();
    m_stop.Close();
    m_line.Close();
    m_hPtyMaster.Reset();
    m_hFile = -1;
    m_hPtyPeer.Reset();
    m_bRunning = FALSE;
}

CSimSerialServer::EWait CSimSerialServer::WaitForInput(bool bFraming, LONGLONG nGapMicros) {
    const CDeadline deadline =
        bFraming ? CDeadline::After(std::chrono::microseconds(nGapMicros)) : CDeadline::Never();
    for (;;) {
        pollfd pfds[2] = {{m_stop.Get(), POLLIN, 0}, {m_hFile, POLLIN, 0}};
        const int rc = WaitUntil(pfds, 2, deadline);
        if (rc < 0) {
            Log(CString("poll: ") + std::strerror(errno));
            return EWait::STOP;
        }
        if (pfds[0].revents != 0) {
            return EWait::STOP;
        }
        return rc == 0 ? EWait::SILENCE : EWait::INPUT;
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
        const EWait wait = WaitForInput(m_mode == EMode::RTU && parser.HasStarted(), nGapMicros);
        if (wait == EWait::STOP) {
            return;
        }
        if (wait == EWait::SILENCE) {
            Take(parser, parser.EndOfFrame());
            continue;
        }
        const ssize_t n = ::read(m_hFile, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        // Nobody holds the other end (a tty that hung up): wait.
        if (n <= 0 && !m_stop.Wait(HANGUP_RETRY_MS)) {
            return;
        }
        for (size_t nDone = 0; nDone < size_t(std::max<ssize_t>(n, 0));) {
            size_t nUsed = 0;
            Take(parser, parser.Feed(buffer + nDone, size_t(n) - nDone, &nUsed));
            nDone += nUsed;
        }
    }
}

void CSimSerialServer::Take(CFrameParser& parser, CFrameParser::EState state) {
    if (state == CFrameParser::EState::NEED_MORE) {
        return;
    }
    if (state == CFrameParser::EState::COMPLETE) {
        Answer(parser.GetFrame());
    } else {
        Log("request dropped: bad checksum or framing");
    }
    parser.ExpectRequest();
}

CByteArray CSimSerialServer::AsciiFrame(const CSimAnswer& answer) {
    CByteArray adu{answer.m_unit};
    adu.insert(adu.end(), answer.m_pdu.begin(), answer.m_pdu.end());
    CByteArray frame = CAsciiFrame::Encode(adu.data(), adu.size());
    if (answer.m_bBadChecksum) {
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
    const CSimFaultRule* pFault = m_faults.Match(nRequest, pdu, n, fault) ? &fault : nullptr;
    if (m_log) {
        Log(CSimAnswer::Describe(nRequest, unit, pdu[0], pFault));
    }
    const CSimAnswer answer =
        CSimAnswer::Make(CSimAnswer::ELink::SERIAL, m_device, unit, pdu, n, pFault);
    if (answer.m_action != CSimAnswer::EAction::SEND) {
        return;
    }
    answer.Send(
        m_mode == EMode::RTU ? answer.RtuFrame() : AsciiFrame(answer),
        [this](const BYTE* pb, size_t nBytes) { return Write(pb, nBytes); },
        [this](int nMillis) { return m_stop.Wait(nMillis); });
}

bool CSimSerialServer::Write(const BYTE* pb, size_t n) {
    switch (CSerialLine::WriteTo(m_hFile, pb, n, WRITE_TIMEOUT_MS, m_stop.Get())) {
        case CSerialLine::EResult::OK:
            return true;
        case CSerialLine::EResult::TIMEOUT:
            Log("answer dropped: the line does not take it");
            return false;
        case CSerialLine::EResult::GONE:
            Log("answer dropped: the line went away");
            return false;
        case CSerialLine::EResult::FAILED:
            break;
    }
    Log(CString("write: ") + std::strerror(errno));
    return false;
}
