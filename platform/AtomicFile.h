// Replaces a file as a whole: the new content goes to a temporary beside it,
// reaches the disk, and then takes the file's name in one rename, so readers
// and a crash see the old content or the new one, never a mix.
//
// The temporary has one fixed name per file and is held under an exclusive
// flock while in use. A save that dies midway leaves that one file behind;
// the next save of the same file removes it and starts afresh, so strays
// never pile up. Two saves of one file at once take turns, but a save waits
// for another only so long: one that is stopped or hung holding the lock
// makes the next fail with EWOULDBLOCK rather than wait for ever.
#pragma once

#include <functional>
#include <string>

#include "UniqueFd.h"

class CFile;

class CAtomicFile {
public:
    CAtomicFile() = default;
    // A save not committed is discarded.
    ~CAtomicFile() { Discard(); }
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    static constexpr int DEFAULT_LOCK_WAIT_MILLIS = 3000;

    // Takes the temporary for strPath, empty. A new file gets the mode
    // 0666 less the umask, a file that exists keeps its own. 0, or the errno:
    // EWOULDBLOCK when another save held the temporary for all of
    // nLockWaitMillis. Anything but a regular file of this user at the
    // temporary's name is left alone and fails the save.
    int Begin(const std::string& strPath, int nLockWaitMillis = DEFAULT_LOCK_WAIT_MILLIS);
    // Where the content goes until Commit.
    int GetFd() const { return m_fd.Get(); }
    const std::string& GetTempPath() const { return m_strTemp; }
    // Flushes the content, renames it over the file and flushes the
    // directory. 0, or the errno (the temporary is then removed).
    int Commit();
    // Removes the temporary, if one is held.
    void Discard();

    // The file that the last failure of Begin or Commit concerns: the
    // temporary or the file itself.
    const std::string& GetFailedPath() const { return m_strFailed; }

    // The temporary's name for a file.
    static std::string TempPathOf(const std::string& strPath);

private:
    // Opens the temporary and holds its lock; stale ones are removed.
    int TakeTemp(int nLockWaitMillis);

    std::string m_strPath;
    std::string m_strTemp;
    std::string m_strFailed;
    CUniqueFd m_fd;
};

// A whole file saved through a CAtomicFile: pfnWrite writes the content to
// the file it is given (failures thrown as CException pointers, as a CFile
// throws them). false, with the reason naming the file in strError, when
// the save failed; the old file is then as it was.
bool SaveWholeFile(const std::string& strPath, const std::function<void(CFile&)>& pfnWrite,
                   std::string& strError);
