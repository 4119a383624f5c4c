#include "Connections.h"

#include "platform/Archive.h"
#include "transport/AutoModbus.h"

IMPLEMENT_DYNAMIC(CConnections, CMapStringToOb)

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
    return pConnection;
}

void CConnections::Remove(const CString& strName) {
    CObject* pObject = nullptr;
    if (!CMapStringToOb::Lookup(strName, pObject)) {
        return;
    }
    RemoveKey(strName);
    delete static_cast<CConnection*>(pObject);  // the master goes with it
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
        POSITION pos = GetStartPosition();
        while (pos != nullptr) {
            CString strName;
            CConnection* pConnection = nullptr;
            GetNextAssoc(pos, strName, pConnection);
            ar << strName << pConnection->m_nType;
            pConnection->Serialize(ar);
        }
        return;
    }

    int nCount = 0;
    ar >> nCount;
    for (int i = 0; i < nCount; ++i) {
        CString strName;
        WORD nType = 0;
        ar >> strName >> nType;
        // Neither comes from our own saving: a kind without a master, or a name
        // taken already. What follows can no longer be trusted; stop here.
        if (nType != CONNECTION_LOCAL_DCOM && nType != CONNECTION_OPEN_MODBUS) {
            return;
        }
        CConnection* pConnection = Add(strName, nType);
        if (pConnection == nullptr) {
            return;
        }
        try {
            pConnection->Serialize(ar);
        } catch (CException*) {
            // A record cut short is not kept half-read.
            Remove(strName);
            throw;
        }
        CAutoModbus* pAuto = pConnection->GetAutoModbus();
        if (pAuto != nullptr && pAuto->m_pPort == nullptr) {
            Remove(strName);  // its server cannot be created; its bytes are read
        }
    }
}
