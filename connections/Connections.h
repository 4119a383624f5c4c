// The application's connections, keyed by name (case-sensitive, byte for
// byte), iterated in the map's own order, saved to and loaded from the
// configuration file.
#pragma once

#include "Connection.h"
#include "platform/MapStringToOb.h"

class CConnections : public CMapStringToOb {
    DECLARE_DYNAMIC(CConnections)

public:
    CConnections() = default;
    // Removes every record, releasing every automation object and closing
    // every socket.
    ~CConnections() override;

    // The new record, or null when the name exists already.
    CConnection* Add(const CString& strName, WORD nType);
    // Destroys the record and its master; an absent name is ignored.
    void Remove(const CString& strName);
    void RemoveAll();
    BOOL Lookup(const CString& strName, CConnection*& pConnection) const;
    void GetNextAssoc(POSITION& rNextPosition, CString& rKey, CConnection*& rValue) const;

    // Storing writes the count and each record in iteration order. Loading
    // adds the file's records; it ends (through the archive's end-of-file
    // exception, or quietly) at the first record that cannot be taken whole.
    void Serialize(CArchive& ar) override;

private:
    using CMapStringToOb::GetNextAssoc;
    using CMapStringToOb::Lookup;
    using CMapStringToOb::RemoveKey;
    using CMapStringToOb::SetAt;
};

extern CConnections theConnections;
