#include "ConfigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Archive.h"

namespace {
CString DirectoryOf(const CString& strPath) {
    size_t slash = strPath.rfind('/');
    if (slash == CString::npos) {
        return ".";
    }
    return slash == 0 ? CString("/") : strPath.substr(0, slash);
}

void SetError(CString* pstrError, const CString& strText) {
    if (pstrError != nullptr) {
        *pstrError = strText;
    }
}

CString TextOf(CException* e) {
    char text[256];
    e->GetErrorMessage(text, sizeof text);
    return text;
}
}  // namespace

BOOL SaveConnections(CConnections& connections, const CString& strPath, CString* pstrError) {
    std::vector<char> temp(strPath.begin(), strPath.end());
    const char suffix[] = ".XXXXXX";
    temp.insert(temp.end(), suffix, suffix + sizeof suffix);
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        SetError(pstrError, strPath + ": " + std::strerror(errno));
        return FALSE;
    }
    // mkstemp makes the file owner-only; keep the old file's mode instead.
    struct stat old {};
    ::fchmod(fd, ::stat(strPath.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    const CString strTemp = temp.data();
    CFile file;
    file.m_hFile = fd;
    file.m_strFileName = strTemp;
    try {
        CArchive ar(&file, CArchive::store);
        connections.Serialize(ar);
        ar.Close();
        file.Flush();
        file.Close();
    } catch (CException* e) {
        SetError(pstrError, TextOf(e));
        e->Delete();
        file.m_hFile = -1;
        ::close(fd);
        ::unlink(strTemp.c_str());
        return FALSE;
    }
    if (::rename(strTemp.c_str(), strPath.c_str()) != 0) {
        SetError(pstrError, strPath + ": " + std::strerror(errno));
        ::unlink(strTemp.c_str());
        return FALSE;
    }
    // Make the rename itself durable.
    int dirFd = ::open(DirectoryOf(strPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return TRUE;
}

namespace {
BOOL Load(CConnections& connections, const CString& strPath, CString* pstrError, bool bReplace) {
    CFile file;
    CFileException error;
    if (!file.Open(strPath.c_str(), CFile::modeRead, &error)) {
        SetError(pstrError, "Cannot open " + strPath + ": " +
                                std::strerror(error.m_lOsError != 0 ? error.m_lOsError : EIO));
        return FALSE;
    }
    if (bReplace) {
        connections.RemoveAll();
    }
    try {
        CArchive ar(&file, CArchive::load);
        connections.Serialize(ar);
    } catch (CException* e) {
        // The records read before the fault stay.
        SetError(pstrError, strPath + " is damaged at " + TextOf(e) +
                                "; the connections before it were loaded");
        e->Delete();
        return FALSE;
    }
    return TRUE;
}
}  // namespace

BOOL LoadConnections(CConnections& connections, const CString& strPath, CString* pstrError) {
    return Load(connections, strPath, pstrError, false);
}

BOOL ReplaceConnections(CConnections& connections, const CString& strPath, CString* pstrError) {
    return Load(connections, strPath, pstrError, true);
}
