#include "ConfigFile.h"

#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/Archive.h"
#include "platform/AtomicFile.h"
#include "platform/com/ErrorInfo.h"

namespace {
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
    CAtomicFile target;
    if (const int nError = target.Begin(strPath)) {
        SetError(pstrError, nError == EWOULDBLOCK
                                ? strPath + " is being saved by another program"
                                : target.GetFailedPath() + ": " + std::strerror(nError));
        return FALSE;
    }
    // The file writes through the temporary's descriptor; target keeps it
    // (and its lock) until the rename.
    CFile file;
    file.m_hFile = target.GetFd();
    file.m_strFileName = target.GetTempPath();
    try {
        CArchive ar(&file, CArchive::store);
        connections.Serialize(ar);
        ar.Close();
        file.Flush();
    } catch (CException* e) {
        SetError(pstrError, TextOf(e));
        e->Delete();
        file.m_hFile = -1;
        return FALSE;
    }
    file.m_hFile = -1;
    if (const int nError = target.Commit()) {
        SetError(pstrError, strPath + ": " + std::strerror(nError));
        return FALSE;
    }
    return TRUE;
}

namespace {
// pOnly: load only that record; *pbFound then tells whether the file held it.
// pfnOpened: runs once the file has opened; false loads nothing.
BOOL Load(CConnections& connections, const CString& strPath, CString* pstrError, bool bReplace,
          const CString* pOnly = nullptr, BOOL* pbFound = nullptr,
          const std::function<bool()>& pfnOpened = {}) {
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
    if (pfnOpened && !pfnOpened()) {
        return TRUE;
    }
    try {
        CArchive ar(&file, CArchive::load);
        if (pOnly != nullptr) {
            *pbFound = connections.LoadOnly(ar, *pOnly);
        } else {
            connections.Serialize(ar);
        }
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

BOOL LoadConnectionsObserved(CConnections& connections, const CString& strPath, CString* pstrError,
                             const std::function<bool()>& pfnOpened) {
    return Load(connections, strPath, pstrError, false, nullptr, nullptr, pfnOpened);
}

BOOL ReplaceConnections(CConnections& connections, const CString& strPath, CString* pstrError) {
    return Load(connections, strPath, pstrError, true);
}

CConnection* LoadConnection(CConnections& connections, const CString& strPath,
                            const CString& strName, CString* pstrError) {
    CString strError;
    BOOL bFound = FALSE;
    Load(connections, strPath, &strError, false, &strName, &bFound);
    CConnection* pConnection = nullptr;
    if (connections.Lookup(strName, pConnection)) {
        return pConnection;  // a fault in a later record does not touch this one
    }
    if (strError.empty() && bFound) {
        // The activation's own account, such as a server of another version.
        const CString strDescription = TakeErrorDescription();
        strError = strDescription.empty()
                       ? "the serial-port server of connection " + strName + " cannot be reached"
                       : "connection " + strName + ": " + strDescription;
    } else if (strError.empty()) {
        strError = "no connection named " + strName + " in " + strPath;
    }
    SetError(pstrError, strError);
    return nullptr;
}
