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
    CString strError;
    const bool bSaved = SaveWholeFile(
        strPath,
        [&connections](CFile& file) {
            CArchive ar(&file, CArchive::store);
            connections.Serialize(ar);
            ar.Close();
        },
        strError);
    if (!bSaved) {
        SetError(pstrError, strError);
    }
    return bSaved ? TRUE : FALSE;
}

namespace {
// The records of an open file, or of an image of one; strPath names it in
// messages. pOnly: load only that record; *pbFound then tells whether the
// file held it. pfnOpened: runs first; false loads nothing.
BOOL LoadFrom(CFile& file, CConnections& connections, const CString& strPath, CString* pstrError,
              bool bReplace, const CString* pOnly = nullptr, BOOL* pbFound = nullptr,
              const std::function<bool()>& pfnOpened = {}) {
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
    return LoadFrom(file, connections, strPath, pstrError, bReplace, pOnly, pbFound, pfnOpened);
}

// What a one-record load that kept nothing says, from the load's own error.
CString NotLoadedText(const CString& strLoadError, BOOL bFound, const CString& strSource,
                      const CString& strName) {
    if (!strLoadError.empty()) {
        return strLoadError;
    }
    if (bFound) {
        // The activation's own account, such as a server of another version.
        const CString strDescription = TakeErrorDescription();
        return strDescription.empty()
                   ? "the serial-port server of connection " + strName + " cannot be reached"
                   : "connection " + strName + ": " + strDescription;
    }
    return "no connection named " + strName + " in " + strSource;
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
    SetError(pstrError, NotLoadedText(strError, bFound, strPath, strName));
    return nullptr;
}

BOOL LoadConnectionsObserved(CConnections& connections, const CByteArray& image,
                             const CString& strSource, CString* pstrError,
                             const std::function<bool()>& pfnOpened) {
    CMemFile file(image);
    return LoadFrom(file, connections, strSource, pstrError, false, nullptr, nullptr, pfnOpened);
}

BOOL LoadConnections(CConnections& connections, const CByteArray& image, const CString& strSource,
                     CString* pstrError) {
    CMemFile file(image);
    return LoadFrom(file, connections, strSource, pstrError, false);
}

CConnection* LoadConnection(CConnections& connections, const CByteArray& image,
                            const CString& strSource, const CString& strName, CString* pstrError) {
    CString strError;
    BOOL bFound = FALSE;
    CMemFile file(image);
    LoadFrom(file, connections, strSource, &strError, false, &strName, &bFound);
    CConnection* pConnection = nullptr;
    if (connections.Lookup(strName, pConnection)) {
        return pConnection;
    }
    SetError(pstrError, NotLoadedText(strError, bFound, strSource, strName));
    return nullptr;
}
