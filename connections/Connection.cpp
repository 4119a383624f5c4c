#include "Connection.h"

#include "platform/Archive.h"
#include "transport/AutoModbus.h"
#include "transport/RemoteModbus.h"
#include "transport/RtuOverTcpModbus.h"
#include "transport/TlsModbus.h"
#include "transport/UdpModbus.h"

IMPLEMENT_DYNAMIC(CConnection, CObject)

const char* ConnectionTypeLabel(WORD nType) {
    switch (nType) {
        case CONNECTION_LOCAL_DCOM:
            return "Local/DCom";
        case CONNECTION_OPEN_MODBUS:
            return "Open Modbus";
        case CONNECTION_RTU_OVER_TCP:
            return "RTU over TCP";
        case CONNECTION_UDP:
            return "Modbus/UDP";
        case CONNECTION_TLS:
            return "Modbus/TCP Security";
        default:
            return "";
    }
}

bool IsHostConnection(WORD nType) {
    return nType >= CONNECTION_OPEN_MODBUS && nType <= CONNECTION_TLS;
}

CRemoteModbus* NewHostModbus(WORD nType) {
    switch (nType) {
        case CONNECTION_OPEN_MODBUS:
            return new CRemoteModbus;
        case CONNECTION_RTU_OVER_TCP:
            return new CRtuOverTcpModbus;
        case CONNECTION_UDP:
            return new CUdpModbus;
        case CONNECTION_TLS:
            return new CTlsModbus;
        default:
            return nullptr;
    }
}

WORD HostModbusKind(const CRemoteModbus& m) {
    if (dynamic_cast<const CRtuOverTcpModbus*>(&m) != nullptr) {
        return CONNECTION_RTU_OVER_TCP;
    }
    if (dynamic_cast<const CUdpModbus*>(&m) != nullptr) {
        return CONNECTION_UDP;
    }
    if (dynamic_cast<const CTlsModbus*>(&m) != nullptr) {
        return CONNECTION_TLS;
    }
    return CONNECTION_OPEN_MODBUS;
}

CModbus* NewConnectionModbus(WORD nType) {
    if (nType == CONNECTION_LOCAL_DCOM) {
        return new CAutoModbus;
    }
    return NewHostModbus(nType);
}

CConnection::CConnection(WORD nType, const CString& strName)
    : m_pModbus(NewConnectionModbus(nType)), m_strName(strName), m_nType(nType) {}

CConnection::~CConnection() {
    delete m_pModbus;
}

CAutoModbus* CConnection::GetAutoModbus() const {
    return m_nType == CONNECTION_LOCAL_DCOM ? static_cast<CAutoModbus*>(m_pModbus) : nullptr;
}

CRemoteModbus* CConnection::GetRemoteModbus() const {
    return IsHostConnection(m_nType) ? static_cast<CRemoteModbus*>(m_pModbus) : nullptr;
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

void CConnection::WriteSettings(CArchive& ar) const {
    ar << m_strReserved;
    if (m_pModbus != nullptr) {
        m_pModbus->WriteSettings(ar);
    }
}

void CConnection::Load(CArchive& ar, CModbus::ELoad mode) {
    ar >> m_strReserved;
    if (m_pModbus != nullptr) {
        m_pModbus->Load(ar, mode);
    }
}
