#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

int LockedAt(CUniqueFd& fd, const std::string& strPath) {
    while (::flock(fd.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return IsStillAt(fd.Get(), strPath) ? 0 : EAGAIN;
}
}  // namespace

std::string CAtomicFile::TempPathOf(const std::string& strPath) {
    return strPath + ".saving";
}

int CAtomicFile::Begin(const std::string& strPath) {
    Discard();
    m_strPath = strPath;
    m_strTemp = TempPathOf(strPath);
    if (const int nError = TakeTemp()) {
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

int CAtomicFile::TakeTemp() {
    for (int nRound = 0; nRound < kTakeRounds; ++nRound) {
        // Created here, the file has 0666 less the umask, as any new file.
        CUniqueFd fd(::open(m_strTemp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        const bool bCreated = fd.IsValid();
        if (!bCreated) {
            if (errno != EEXIST) {
                return errno;
            }
            fd.Reset(::open(m_strTemp.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
            if (!fd.IsValid()) {
                if (errno == ENOENT) {
                    continue;  // the save that had it finished meanwhile
                }
                return errno;
            }
        }
        const int nError = LockedAt(fd, m_strTemp);
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
