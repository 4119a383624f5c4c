// A named connection: a record that owns exactly one Modbus master.
#pragma once

#include "core/Modbus.h"

class CAutoModbus;
class CRemoteModbus;

enum : WORD {
    CONNECTION_LOCAL_DCOM = 1,
    CONNECTION_OPEN_MODBUS = 2,
    CONNECTION_RTU_OVER_TCP = 3,
    CONNECTION_UDP = 4,
    CONNECTION_TLS = 5,
};

// "Local/DCom", "Open Modbus", "RTU over TCP", "Modbus/UDP", "Modbus/TCP
// Security", or an empty text for another kind.
const char* ConnectionTypeLabel(WORD nType);

// Whether a record of the kind reaches its device by host and port (its
// master a CRemoteModbus): kinds 2 to 5.
bool IsHostConnection(WORD nType);

// A new master of the kind with its defaults, or null for a kind that has
// none. The one place that ties kinds to master classes: records, the
// connection dialogs and the poller all make theirs here.
CModbus* NewConnectionModbus(WORD nType);

// The same for a host-and-port kind, typed as such; null for the others.
CRemoteModbus* NewHostModbus(WORD nType);

// The host-and-port kind whose master m is (2 to 5).
WORD HostModbusKind(const CRemoteModbus& m);

class CConnection : public CObject {
    DECLARE_DYNAMIC(CConnection)

public:
    // Kind 1 gets a CAutoModbus without a server object yet, kinds 2 to 5
    // the host-and-port master of their kind with its defaults, any other
    // kind no master.
    CConnection(WORD nType, const CString& strName);
    ~CConnection() override;
    CConnection(const CConnection&) = delete;
    CConnection& operator=(const CConnection&) = delete;

    CString GetName() const { return m_strName; }
    WORD GetType() const { return m_nType; }
    CAutoModbus* GetAutoModbus() const;
    CRemoteModbus* GetRemoteModbus() const;

    // The reserved text, then the master's settings. The name and the kind
    // are the collection's to write.
    void Serialize(CArchive& ar) override;
    // The same bytes as storing, with nothing connecting again.
    void WriteSettings(CArchive& ar) const;
    // Loading, with the master set up as mode says.
    void Load(CArchive& ar, CModbus::ELoad mode);

    CModbus* m_pModbus = nullptr;
    CString m_strName;
    WORD m_nType;
    CString m_strReserved;
};
