#include "File.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

IMPLEMENT_DYNAMIC(CFileException, CException)

BOOL CFileException::GetErrorMessage(char* lpszError, UINT nMaxError, UINT*) {
    char text[256];
    std::snprintf(text, sizeof text, "%s: %s", m_strFileName.c_str(),
                  m_lOsError != 0 ? std::strerror(m_lOsError) : "file error");
    AfxCopyErrorMessage(text, lpszError, nMaxError);
    return TRUE;
}

static int CauseOf(int err) {
    switch (err) {
        case ENOENT:
            return CFileException::fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
            return CFileException::badPath;
        case EACCES:
        case EPERM:
        case EROFS:
            return CFileException::accessDenied;
        case ENOSPC:
        case EDQUOT:
            return CFileException::diskFull;
        default:
            return CFileException::genericException;
    }
}

CFile::~CFile() {
    if (m_hFile >= 0) {
        ::close(m_hFile);
    }
}

BOOL CFile::Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError) {
    int flags = O_CLOEXEC;
    if (nOpenFlags & modeReadWrite) {
        flags |= O_RDWR;
    } else if (nOpenFlags & modeWrite) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    if (nOpenFlags & modeCreate) {
        flags |= O_CREAT | O_TRUNC;
    }
    int fd;
    do {
        fd = ::open(lpszFileName, flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (pError != nullptr) {
            pError->m_cause = CauseOf(errno);
            pError->m_lOsError = errno;
            pError->m_strFileName = lpszFileName;
        }
        return FALSE;
    }
    m_hFile = fd;
    m_strFileName = lpszFileName;
    return TRUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    for (;;) {
        ssize_t n = ::read(m_hFile, lpBuf, nCount);
        if (n >= 0) {
            return static_cast<UINT>(n);
        }
        if (errno != EINTR) {
            throw new CFileException(CauseOf(errno), errno, m_strFileName);
        }
    }
}

void CFile::Write(const void* lpBuf, UINT nCount) {
    const char* p = static_cast<const char*>(lpBuf);
    while (nCount > 0) {
        ssize_t n = ::write(m_hFile, p, nCount);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw new CFileException(CauseOf(errno), errno, m_strFileName);
        }
        p += n;
        nCount -= static_cast<UINT>(n);
    }
}

void CFile::Flush() {
    if (m_hFile >= 0 && ::fsync(m_hFile) != 0) {
        throw new CFileException(CauseOf(errno), errno, m_strFileName);
    }
}

void CFile::Close() {
    if (m_hFile >= 0) {
        int fd = m_hFile;
        m_hFile = -1;
        if (::close(fd) != 0 && errno != EINTR) {
            throw new CFileException(CauseOf(errno), errno, m_strFileName);
        }
    }
}

ULONGLONG CFile::GetRemaining() const {
    struct stat st {};
    if (m_hFile < 0 || ::fstat(m_hFile, &st) != 0 || !S_ISREG(st.st_mode)) {
        return ~0ULL;
    }
    off_t pos = ::lseek(m_hFile, 0, SEEK_CUR);
    if (pos < 0 || pos > st.st_size) {
        return 0;
    }
    return static_cast<ULONGLONG>(st.st_size - pos);
}

UINT CMemFile::Read(void* lpBuf, UINT nCount) {
    size_t n = std::min<size_t>(nCount, m_data.size() - m_nPos);
    if (n > 0) {
        std::memcpy(lpBuf, m_data.data() + m_nPos, n);
    }
    m_nPos += n;
    return static_cast<UINT>(n);
}

void CMemFile::Write(const void* lpBuf, UINT nCount) {
    const BYTE* p = static_cast<const BYTE*>(lpBuf);
    m_data.insert(m_data.end(), p, p + nCount);
}
