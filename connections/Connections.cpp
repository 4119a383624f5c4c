#include "Connections.h"

#include <cstdio>
#include <set>
#include <utility>

#include "platform/Archive.h"
#include "transport/AutoModbus.h"

IMPLEMENT_DYNAMIC(CConnections, CMapStringToOb)
IMPLEMENT_DYNAMIC(CConfigLoadException, CArchiveException)

CConfigLoadException::CConfigLoadException(int cause, int nRecord, int nCount, CString strReason)
    : CArchiveException(cause),
      m_nRecord(nRecord),
      m_nCount(nCount),
      m_strReason(std::move(strReason)) {}

BOOL CConfigLoadException::GetErrorMessage(char* lpszError, UINT nMaxError, UINT*) {
    char text[512];
    if (m_nRecord == 0) {
        std::snprintf(text, sizeof text, "the record count: %s", m_strReason.c_str());
    } else {
        std::snprintf(text, sizeof text, "record %d of %d: %s", m_nRecord, m_nCount,
                      m_strReason.c_str());
    }
    AfxCopyErrorMessage(text, lpszError, nMaxError);
    return TRUE;
}

namespace {
// The same fault, told with the record it stopped at.
CConfigLoadException* AtRecord(CException* e, int nRecord, int nCount) {
    char text[256];
    e->GetErrorMessage(text, sizeof text);
    auto* pArchive = dynamic_cast<CArchiveException*>(e);
    int cause = pArchive ? pArchive->m_cause : CArchiveException::genericException;
    e->Delete();
    return new CConfigLoadException(cause, nRecord, nCount, text);
}
}  // namespace

CConnections theConnections;

CConnections::~CConnections() {
    RemoveAll();
}

CConnection* CConnections::Add(const CString& strName, WORD nType) {
    CObject* pExisting = nullptr;
    if (CMapStringToOb::Lookup(strName, pExisting)) {
        return nullptr;
    }
    auto* pConnection = new CConnection(nType, strName);
    SetAt(strName, pConnection);
    Changed();
    return pConnection;
}

void CConnections::Remove(const CString& strName) {
    CObject* pObject = nullptr;
    if (!CMapStringToOb::Lookup(strName, pObject)) {
        return;
    }
    RemoveKey(strName);
    delete static_cast<CConnection*>(pObject);  // the master goes with it
    Changed();
}

BOOL CConnections::Adopt(CConnection* pConnection) {
    CObject* pExisting = nullptr;
    if (CMapStringToOb::Lookup(pConnection->GetName(), pExisting)) {
        delete pConnection;
        return FALSE;
    }
    SetAt(pConnection->GetName(), pConnection);
    Changed();
    return TRUE;
}

CConnection* CConnections::Detach(const CString& strName) {
    CObject* pObject = nullptr;
    if (!CMapStringToOb::Lookup(strName, pObject)) {
        return nullptr;
    }
    RemoveKey(strName);
    Changed();
    return static_cast<CConnection*>(pObject);
}

void CConnections::RemoveAll() {
    while (!IsEmpty()) {
        POSITION pos = GetStartPosition();
        CString strName;
        CConnection* pConnection = nullptr;
        GetNextAssoc(pos, strName, pConnection);
        Remove(strName);
    }
}

BOOL CConnections::Lookup(const CString& strName, CConnection*& pConnection) const {
    CObject* pObject = nullptr;
    if (!CMapStringToOb::Lookup(strName, pObject)) {
        return FALSE;
    }
    pConnection = static_cast<CConnection*>(pObject);
    return TRUE;
}

void CConnections::GetNextAssoc(POSITION& rNextPosition, CString& rKey,
                                CConnection*& rValue) const {
    CObject* pObject = nullptr;
    CMapStringToOb::GetNextAssoc(rNextPosition, rKey, pObject);
    rValue = static_cast<CConnection*>(pObject);
}

void CConnections::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << static_cast<int>(GetCount());
        ForEach([&](const CString& strName, CConnection* pConnection) {
            ar << strName << pConnection->m_nType;
            pConnection->Serialize(ar);
        });
        return;
    }
    LoadRecords(ar, nullptr);
}

BOOL CConnections::LoadOnly(CArchive& ar, const CString& strName) {
    return LoadRecords(ar, &strName);
}

BOOL CConnections::LoadRecords(CArchive& ar, const CString* pOnly) {
    BOOL bFound = FALSE;
    int nCount = 0;
    // An observer may take records away; a name read twice is still refused.
    std::set<CString> names;
    try {
        ar >> nCount;
    } catch (CException* e) {
        throw AtRecord(e, 0, 0);
    }
    for (int i = 0; i < nCount; ++i) {
        CString strName;
        WORD nType = 0;
        try {
            ar >> strName >> nType;
        } catch (CException* e) {
            throw AtRecord(e, i + 1, nCount);
        }
        // Neither comes from our own saving: a kind without a master, or a name
        // taken already. What follows can no longer be trusted; stop here.
        if (nType != CONNECTION_LOCAL_DCOM && !IsHostConnection(nType)) {
            throw new CConfigLoadException(CArchiveException::badClass, i + 1, nCount,
                                           "unknown connection kind " + std::to_string(nType));
        }
        if (m_pObserver != nullptr && !m_pObserver->OnRecord(i + 1, nCount, strName)) {
            return bFound;
        }
        CConnection* pConnection = (m_pObserver == nullptr || names.insert(strName).second)
                                       ? Add(strName, nType)
                                       : nullptr;
        if (pConnection == nullptr) {
            throw new CConfigLoadException(CArchiveException::badIndex, i + 1, nCount,
                                           "a second connection named " + strName);
        }
        const bool bSkipped = pOnly != nullptr && strName != *pOnly;
        bFound = bFound || (pOnly != nullptr && !bSkipped);
        try {
            pConnection->Load(ar, bSkipped ? CModbus::ELoad::VALUES_ONLY : CModbus::ELoad::CONNECT);
        } catch (CException* e) {
            // A record cut short is not kept half-read.
            Remove(strName);
            throw AtRecord(e, i + 1, nCount);
        }
        if (bSkipped) {
            Remove(strName);
            continue;
        }
        CAutoModbus* pAuto = pConnection->GetAutoModbus();
        if (pAuto != nullptr && pAuto->m_pPort == nullptr) {
            Remove(strName);  // its server cannot be created; its bytes are read
        } else if (m_pObserver != nullptr && m_pObserver->OnKept(pConnection)) {
            RemoveKey(strName);
            Changed();
        }
    }
    return bFound;
}
