// A named connection: a record that owns exactly one Modbus master.
#pragma once

#include "core/Modbus.h"

class CAutoModbus;
class CRemoteModbus;

enum : WORD {
    CONNECTION_LOCAL_DCOM = 1,
    CONNECTION_OPEN_MODBUS = 2,
};

// "Local/DCom", "Open Modbus", or an empty text for another kind.
const char* ConnectionTypeLabel(WORD nType);

class CConnection : public CObject {
    DECLARE_DYNAMIC(CConnection)

public:
    // Kind 1 gets a CAutoModbus without a server object yet, kind 2 a
    // CRemoteModbus with its defaults, any other kind no master.
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
    // Loading, with the master set up as mode says.
    void Load(CArchive& ar, CModbus::ELoad mode);

    CModbus* m_pModbus = nullptr;
    CString m_strName;
    WORD m_nType;
    CString m_strReserved;
};
