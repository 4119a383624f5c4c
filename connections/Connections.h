// The application's connections, keyed by name (case-sensitive, byte for
// byte), iterated in the map's own order, saved to and loaded from the
// configuration file.
#pragma once

#include <functional>

#include "Connection.h"
#include "platform/Archive.h"
#include "platform/MapStringToOb.h"

// Loading stopped at a record that the file does not hold whole or that
// cannot be taken: which one (from 1; 0 for the record count), of how many
// the file announced, and why.
class CConfigLoadException : public CArchiveException {
    DECLARE_DYNAMIC(CConfigLoadException)

public:
    CConfigLoadException(int cause, int nRecord, int nCount, CString strReason);
    // "record 2 of 3: Unexpected end of file"
    BOOL GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) override;

    int m_nRecord;
    int m_nCount;
    CString m_strReason;
};

class CConnections : public CMapStringToOb {
    DECLARE_DYNAMIC(CConnections)

public:
    // Told of each record as loading reaches it and once it is kept.
    class CLoadObserver {
    public:
        virtual ~CLoadObserver() = default;
        // Before the record connects; false stops loading as if the file
        // ended there.
        virtual bool OnRecord(int nRecord, int nCount, const CString& strName) = 0;
        // true when the observer took the record out of the collection.
        virtual bool OnKept(CConnection* pConnection) = 0;
    };

    CConnections() = default;
    // Removes every record, releasing every automation object and closing
    // every socket.
    ~CConnections() override;

    // The new record, or null when the name exists already.
    CConnection* Add(const CString& strName, WORD nType);
    // Destroys the record and its master; an absent name is ignored.
    void Remove(const CString& strName);
    void RemoveAll();
    // Takes a record made elsewhere; FALSE (and the record destroyed) when
    // its name is taken.
    BOOL Adopt(CConnection* pConnection);
    // The record, out of the collection but not destroyed; null when absent.
    CConnection* Detach(const CString& strName);
    BOOL Lookup(const CString& strName, CConnection*& pConnection) const;
    void GetNextAssoc(POSITION& rNextPosition, CString& rKey, CConnection*& rValue) const;
    // Each record in iteration order (the order the file is written in).
    template <typename F>
    void ForEach(F&& f) const {
        POSITION pos = GetStartPosition();
        while (pos != nullptr) {
            CString strName;
            CConnection* pConnection = nullptr;
            GetNextAssoc(pos, strName, pConnection);
            f(strName, pConnection);
        }
    }

    // Storing writes the count and each record in iteration order. Loading
    // adds the file's records; at the first record that cannot be taken
    // whole it throws a CConfigLoadException, keeping the records before.
    void Serialize(CArchive& ar) override;
    // Loads as Serialize does, but keeps only the record named strName; the
    // others are read without connecting, creating or starting anything.
    // TRUE when the archive held that record (it may still have been dropped
    // because its server could not be created).
    BOOL LoadOnly(CArchive& ar, const CString& strName);
    // Null for none.
    void SetLoadObserver(CLoadObserver* pObserver) { m_pObserver = pObserver; }
    // Called after each record comes or goes, on the thread that changed
    // the collection; empty for none. Set before anything may change it.
    void SetChangeHandler(std::function<void()> pfnChanged) {
        m_pfnChanged = std::move(pfnChanged);
    }

private:
    // The loading loop; pOnly as for LoadOnly, null for every record.
    BOOL LoadRecords(CArchive& ar, const CString* pOnly);

    void Changed() const {
        if (m_pfnChanged) {
            m_pfnChanged();
        }
    }

    CLoadObserver* m_pObserver = nullptr;
    std::function<void()> m_pfnChanged;

    using CMapStringToOb::GetNextAssoc;
    using CMapStringToOb::Lookup;
    using CMapStringToOb::RemoveKey;
    using CMapStringToOb::SetAt;
};

extern CConnections theConnections;
