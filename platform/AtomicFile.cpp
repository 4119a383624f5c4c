#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "Deadline.h"
#include "File.h"

namespace {
// Rounds of losing the temporary to another save before giving up; each
// round waits for that save to finish, so a few suffice.
constexpr int kTakeRounds = 16;

std::string DirectoryOf(const std::string& strPath) {
    const size_t slash = strPath.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : strPath.substr(0, slash);
}

// Whether the descriptor still is what the path names: a save that held it
// before may have renamed it away or removed it.
bool IsStillAt(int hFd, const std::string& strPath) {
    struct stat held {
    }, named{};
    return ::fstat(hFd, &held) == 0 && ::lstat(strPath.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// flock has no time-out: the lock is tried until the deadline.
constexpr auto kLockRetry = std::chrono::milliseconds(10);

int LockedAt(CUniqueFd& fd, const std::string& strPath, const CDeadline& deadline) {
    while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return errno;
        }
        if (deadline.HasPassed()) {
            return EWOULDBLOCK;
        }
        std::this_thread::sleep_for(kLockRetry);
    }
    return IsStillAt(fd.Get(), strPath) ? 0 : EAGAIN;
}

// A temporary found in place may be taken (and removed) only when it is a
// regular file of ours; anything else was put there by someone else.
int CheckFound(int hFd) {
    struct stat found {};
    if (::fstat(hFd, &found) != 0) {
        return errno;
    }
    if (S_ISDIR(found.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(found.st_mode)) {
        return EEXIST;
    }
    return found.st_uid == ::geteuid() ? 0 : EACCES;
}
}  // namespace

std::string CAtomicFile::TempPathOf(const std::string& strPath) {
    return strPath + ".saving";
}

int CAtomicFile::Begin(const std::string& strPath, int nLockWaitMillis) {
    Discard();
    m_strPath = strPath;
    m_strTemp = TempPathOf(strPath);
    m_strFailed = m_strPath;
    if (const int nError = TakeTemp(nLockWaitMillis)) {
        return nError;
    }
    // A file that exists keeps its mode; a new one has the creation mode.
    struct stat old {};
    if (::stat(m_strPath.c_str(), &old) == 0 && ::fchmod(m_fd.Get(), old.st_mode & 07777) != 0) {
        const int nError = errno;
        Discard();
        return nError;
    }
    return 0;
}

int CAtomicFile::TakeTemp(int nLockWaitMillis) {
    // One wait for all rounds: each round may wait for another save.
    const CDeadline deadline = CDeadline::AfterMillis(nLockWaitMillis);
    for (int nRound = 0; nRound < kTakeRounds; ++nRound) {
        // Created here, the file has 0666 less the umask, as any new file.
        CUniqueFd fd(::open(m_strTemp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        const bool bCreated = fd.IsValid();
        if (!bCreated) {
            if (errno != EEXIST) {
                return errno;
            }
            // Not following a link, not waiting on a pipe or device.
            fd.Reset(::open(m_strTemp.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            const int nError = fd.IsValid() ? CheckFound(fd.Get()) : errno;
            if (nError == ENOENT) {
                continue;  // the save that had it finished meanwhile
            }
            if (nError != 0) {
                // Something of someone else's stands at the temporary's name.
                m_strFailed = m_strTemp;
                return nError;
            }
        }
        const int nError = LockedAt(fd, m_strTemp, deadline);
        if (nError == EAGAIN) {
            continue;
        }
        if (nError != 0) {
            return nError;
        }
        if (!bCreated) {
            // Ours under the lock but not made by us: what a save that died
            // left. It goes; the next round makes a new one.
            ::unlink(m_strTemp.c_str());
            continue;
        }
        m_fd = std::move(fd);
        return 0;
    }
    return EAGAIN;
}

int CAtomicFile::Commit() {
    if (!m_fd.IsValid()) {
        return EBADF;
    }
    if (::fsync(m_fd.Get()) != 0 || ::rename(m_strTemp.c_str(), m_strPath.c_str()) != 0) {
        const int nError = errno;
        m_strFailed = m_strPath;
        Discard();
        return nError;
    }
    // The lock goes with the descriptor, only after the rename.
    m_fd.Reset();
    // Make the rename itself durable.
    CUniqueFd dir(::open(DirectoryOf(m_strPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.IsValid()) {
        ::fsync(dir.Get());
    }
    return 0;
}

void CAtomicFile::Discard() {
    if (m_fd.IsValid()) {
        ::unlink(m_strTemp.c_str());
        m_fd.Reset();
    }
}

bool SaveWholeFile(const std::string& strPath, const std::function<void(CFile&)>& pfnWrite,
                   std::string& strError) {
    CAtomicFile target;
    if (const int nError = target.Begin(strPath)) {
        strError = nError == EWOULDBLOCK ? strPath + " is being saved by another program"
                                         : target.GetFailedPath() + ": " + std::strerror(nError);
        return false;
    }
    // The file writes through the temporary's descriptor; target keeps it
    // (and its lock) until the rename.
    CFile file;
    file.m_hFile = target.GetFd();
    file.m_strFileName = target.GetTempPath();
    try {
        pfnWrite(file);
        file.Flush();
    } catch (CException* e) {
        char text[256];
        e->GetErrorMessage(text, sizeof text);
        strError = text;
        e->Delete();
        file.m_hFile = -1;
        return false;
    }
    file.m_hFile = -1;
    if (const int nError = target.Commit()) {
        strError = strPath + ": " + std::strerror(nError);
        return false;
    }
    return true;
}
