#include "SerialLine.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "SerialBaudRate.h"
#include "platform/Deadline.h"

namespace {
// Unix98 pty slaves use majors 136..143.
constexpr unsigned PTY_SLAVE_MAJOR_FIRST = 136;
constexpr unsigned PTY_SLAVE_MAJOR_LAST = 143;

// The format bits a device might not take.
constexpr tcflag_t FORMAT_CFLAGS = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t FORMAT_IFLAGS = IXON | IXOFF;

bool IsGoneError(int nError) {
    return nError == EIO || nError == ENXIO || nError == ENODEV || nError == EPIPE;
}

CString Describe(tcflag_t cflag, tcflag_t iflag) {
    CString s = (cflag & CSIZE) == CS7 ? "7" : "8";
    if (!(cflag & PARENB)) {
        s += "N";
    } else if (cflag & CMSPAR) {
        s += (cflag & PARODD) ? "M" : "S";
    } else {
        s += (cflag & PARODD) ? "O" : "E";
    }
    s += (cflag & CSTOPB) ? "2" : "1";
    if (cflag & CRTSCTS) {
        s += " RTS/CTS";
    }
    if (iflag & (IXON | IXOFF)) {
        s += " XON/XOFF";
    }
    return s;
}
}  // namespace

bool CSerialLine::IsPtyHandle(int hFile) {
    int nPty = 0;
    if (::ioctl(hFile, TIOCGPTN, &nPty) == 0) {
        return true;  // a master
    }
    struct stat st {};
    if (::fstat(hFile, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned nMajor = major(st.st_rdev);
    return nMajor >= PTY_SLAVE_MAJOR_FIRST && nMajor <= PTY_SLAVE_MAJOR_LAST;
}

BOOL CSerialLine::Fail(const CString& strWhat, int nError) {
    m_strError = strWhat;
    m_nErrno = nError;
    if (nError != 0) {
        m_strError += ": ";
        m_strError += std::strerror(nError);
    }
    Close();
    return FALSE;
}

void CSerialLine::Warn(const CString& strWhat) {
    m_warnings.push_back(m_strPath + ": " + strWhat);
}

BOOL CSerialLine::Open(const CString& strPath, const CSerialSettings& settings) {
    Close();
    m_strError.clear();
    m_nErrno = 0;
    m_warnings.clear();
    m_strPath = strPath;
    m_hFile = ::open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_hFile < 0) {
        return Fail("cannot open " + strPath, errno);
    }
    if (!::isatty(m_hFile)) {
        return Fail(strPath + " is not a serial device", 0);
    }
    m_bPty = IsPtyHandle(m_hFile);
    // Nobody else may open the line while we use it.
    ::ioctl(m_hFile, TIOCEXCL);
    return Configure(settings);
}

void CSerialLine::Close() {
    if (m_hFile >= 0) {
        // The flag outlives this descriptor while others hold the tty.
        ::ioctl(m_hFile, TIOCNXCL);
        ::close(m_hFile);
        m_hFile = -1;
    }
    m_bPty = FALSE;
}

termios CSerialLine::MakeTermios(const termios& current, const CSerialSettings& settings,
                                 std::vector<CString>& warnings) {
    termios tio = current;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(FORMAT_CFLAGS);
    tio.c_iflag &= ~(FORMAT_IFLAGS | INPCK);
    tio.c_cflag |= settings.m_nByteSize == 7 ? CS7 : CS8;
    switch (settings.m_nParity) {
        case CSerialSettings::PARITY_ODD:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case CSerialSettings::PARITY_EVEN:
            tio.c_cflag |= PARENB;
            break;
        case CSerialSettings::PARITY_MARK:
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        default:
            break;
    }
    if (tio.c_cflag & PARENB) {
        // A byte with a parity error reads as 0 and so spoils the checksum.
        tio.c_iflag |= INPCK;
    }
    if (settings.m_nStopBits == CSerialSettings::STOP_ONE_AND_HALF) {
        warnings.push_back("1.5 stop bits are not available on Linux; using 2");
    }
    if (settings.m_nStopBits != CSerialSettings::STOP_ONE) {
        tio.c_cflag |= CSTOPB;
    }
    if (settings.m_nFlowControl & CSerialSettings::FLOW_RTS_CTS) {
        tio.c_cflag |= CRTSCTS;
    }
    if (settings.m_nFlowControl & CSerialSettings::FLOW_XON_XOFF) {
        tio.c_iflag |= IXON | IXOFF;
        if (settings.m_nMode == CSerialSettings::MODE_RTU) {
            warnings.push_back(
                "XON/XOFF flow control swallows the bytes 0x11 and 0x13 of RTU frames");
        }
    }
    if (settings.m_nMode == CSerialSettings::MODE_RTU && settings.m_nByteSize != 8) {
        warnings.push_back("RTU frames need 8 data bits; bytes above 0x7F will not cross the line");
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const unsigned int nStandard = CSerialBaudRate::StandardConstant(settings.m_nBaudRate);
    // An arbitrary rate is set afterwards; until then the line keeps 38400.
    const speed_t speed = nStandard != 0 ? static_cast<speed_t>(nStandard) : B38400;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    return tio;
}

BOOL CSerialLine::Configure(const CSerialSettings& settings) {
    termios current{};
    if (::tcgetattr(m_hFile, &current) != 0) {
        return Fail("cannot read the settings of " + m_strPath, errno);
    }
    std::vector<CString> warnings;
    const termios wanted = MakeTermios(current, settings, warnings);
    for (const CString& strWarning : warnings) {
        Warn(strWarning);
    }
    return Apply(wanted) && Verify(wanted) && SetRate(settings.m_nBaudRate) && RaiseDtr(settings);
}

BOOL CSerialLine::Apply(const termios& wanted) {
    if (::tcsetattr(m_hFile, TCSANOW, &wanted) == 0) {
        return TRUE;
    }
    const int nError = errno;
    if (!m_bPty || nError != EINVAL) {
        return Fail("cannot set up " + m_strPath, nError);
    }
    // Some kernels refuse what a pty cannot do: go on with 8N1.
    termios tio = wanted;
    tio.c_cflag &= ~FORMAT_CFLAGS;
    tio.c_cflag |= CS8;
    tio.c_iflag &= ~INPCK;
    if (::tcsetattr(m_hFile, TCSANOW, &tio) != 0) {
        return Fail("cannot set up " + m_strPath, errno);
    }
    return TRUE;
}

BOOL CSerialLine::Verify(const termios& wanted) {
    termios got{};
    ::tcgetattr(m_hFile, &got);
    if ((got.c_cflag & FORMAT_CFLAGS) == (wanted.c_cflag & FORMAT_CFLAGS) &&
        (got.c_iflag & FORMAT_IFLAGS) == (wanted.c_iflag & FORMAT_IFLAGS)) {
        return TRUE;
    }
    const CString strWhat = "asked for " + Describe(wanted.c_cflag, wanted.c_iflag) +
                            ", the device runs " + Describe(got.c_cflag, got.c_iflag);
    if (!m_bPty) {
        return Fail(m_strPath + " refuses the format: " + strWhat, 0);
    }
    Warn("a pseudo-terminal has no line format (" + strWhat + ")");
    return TRUE;
}

BOOL CSerialLine::SetRate(LONG nBaudRate) {
    if (CSerialBaudRate::StandardConstant(nBaudRate) != 0) {
        return TRUE;  // set with the rest
    }
    const int nError = CSerialBaudRate::SetArbitrary(m_hFile, nBaudRate);
    if (nError != 0) {
        return Fail("cannot set " + std::to_string(nBaudRate) + " bit/s on " + m_strPath, nError);
    }
    return TRUE;
}

BOOL CSerialLine::RaiseDtr(const CSerialSettings& settings) {
    if (settings.m_nFlowControl & CSerialSettings::FLOW_DTR_DSR) {
        int nBits = TIOCM_DTR;
        if (::ioctl(m_hFile, TIOCMBIS, &nBits) != 0) {
            Warn(CString("cannot raise DTR: ") + std::strerror(errno));
        }
        Warn("Linux has no DSR flow control: DTR is raised, DSR is not waited for");
    }
    return TRUE;
}

CSerialLine::EResult CSerialLine::Write(const BYTE* pb, size_t n, int nMillis) {
    return WriteTo(m_hFile, pb, n, nMillis, -1);
}

CSerialLine::EResult CSerialLine::WriteTo(int hFile, const BYTE* pb, size_t n, int nMillis,
                                          int hStopEvent) {
    if (hFile < 0) {
        return EResult::FAILED;
    }
    const CDeadline deadline = CDeadline::AfterMillis(nMillis);
    while (n > 0) {
        const ssize_t nWritten = ::write(hFile, pb, n);
        if (nWritten > 0) {
            pb += nWritten;
            n -= size_t(nWritten);
            continue;
        }
        if (nWritten < 0 && errno == EINTR) {
            continue;
        }
        if (nWritten < 0 && errno != EAGAIN) {
            return IsGoneError(errno) ? EResult::GONE : EResult::FAILED;
        }
        // Without a stop event the first entry is ignored (a negative fd).
        pollfd pfds[2] = {{hStopEvent, POLLIN, 0}, {hFile, POLLOUT, 0}};
        const int rc = WaitUntil(pfds, 2, deadline);
        if (rc == 0) {
            return EResult::TIMEOUT;
        }
        if (rc < 0) {
            return EResult::FAILED;
        }
        if (pfds[0].revents != 0) {
            return EResult::TIMEOUT;
        }
        if (pfds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            return EResult::GONE;
        }
    }
    return EResult::OK;
}

CSerialLine::EResult CSerialLine::Read(BYTE* pb, size_t nMax, LONGLONG nMicros, size_t* pnRead) {
    *pnRead = 0;
    if (m_hFile < 0) {
        return EResult::FAILED;
    }
    const CDeadline deadline = CDeadline::After(std::chrono::microseconds(nMicros));
    for (;;) {
        pollfd pfd{m_hFile, POLLIN, 0};
        const int rc = WaitUntil(&pfd, 1, deadline);
        if (rc < 0) {
            return EResult::FAILED;
        }
        if (rc == 0) {
            return EResult::TIMEOUT;
        }
        if (pfd.revents & POLLNVAL) {
            return EResult::FAILED;
        }
        const ssize_t nRead = ::read(m_hFile, pb, nMax);
        if (nRead > 0) {
            *pnRead = size_t(nRead);
            return EResult::OK;
        }
        if (nRead < 0 && (errno == EINTR || errno == EAGAIN) && !(pfd.revents & POLLHUP)) {
            if (deadline.HasPassed()) {
                return EResult::TIMEOUT;
            }
            continue;
        }
        // A tty reads nothing after a hang-up; a vanished device fails.
        if (nRead == 0 || (pfd.revents & POLLHUP) || IsGoneError(errno)) {
            return EResult::GONE;
        }
        return EResult::FAILED;
    }
}

void CSerialLine::FlushInput() {
    if (m_hFile >= 0) {
        ::tcflush(m_hFile, TCIFLUSH);
    }
}
