#include "Connection.h"

#include "platform/Archive.h"
#include "transport/AutoModbus.h"
#include "transport/RemoteModbus.h"

IMPLEMENT_DYNAMIC(CConnection, CObject)

const char* ConnectionTypeLabel(WORD nType) {
    switch (nType) {
        case CONNECTION_LOCAL_DCOM:
            return "Local/DCom";
        case CONNECTION_OPEN_MODBUS:
            return "Open Modbus";
        default:
            return "";
    }
}

CConnection::CConnection(WORD nType, const CString& strName) : m_strName(strName), m_nType(nType) {
    if (nType == CONNECTION_LOCAL_DCOM) {
        m_pModbus = new CAutoModbus;
    } else if (nType == CONNECTION_OPEN_MODBUS) {
        m_pModbus = new CRemoteModbus;
    }
}

CConnection::~CConnection() {
    delete m_pModbus;
}

CAutoModbus* CConnection::GetAutoModbus() const {
    return m_nType == CONNECTION_LOCAL_DCOM ? static_cast<CAutoModbus*>(m_pModbus) : nullptr;
}

CRemoteModbus* CConnection::GetRemoteModbus() const {
    return m_nType == CONNECTION_OPEN_MODBUS ? static_cast<CRemoteModbus*>(m_pModbus) : nullptr;
}

void CConnection::Serialize(CArchive& ar) {
    if (!ar.IsStoring()) {
        Load(ar, CModbus::ELoad::CONNECT);
        return;
    }
    ar << m_strReserved;
    if (m_pModbus != nullptr) {
        m_pModbus->Serialize(ar);
    }
}

void CConnection::Load(CArchive& ar, CModbus::ELoad mode) {
    ar >> m_strReserved;
    if (m_pModbus != nullptr) {
        m_pModbus->Load(ar, mode);
    }
}
