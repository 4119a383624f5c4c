// A string-keyed hash map with the framework's fixed layout: 17 buckets, a
// name's bucket is HashKey(name) % 17, iteration visits the buckets from 0
// upward and, within a bucket, the most recently inserted entry first.
#pragma once

#include <array>

#include "Object.h"

struct __POSITION;
using POSITION = __POSITION*;
#define BEFORE_START_POSITION (reinterpret_cast<POSITION>(-1L))

// h = 33 * h + c over the characters as signed bytes, from h = 0.
UINT HashKey(const char* key);

class CMapStringToOb : public CObject {
    DECLARE_DYNAMIC(CMapStringToOb)

public:
    static constexpr UINT HASH_TABLE_SIZE = 17;

    CMapStringToOb() = default;
    ~CMapStringToOb() override;
    CMapStringToOb(const CMapStringToOb&) = delete;
    CMapStringToOb& operator=(const CMapStringToOb&) = delete;

    size_t GetCount() const { return m_nCount; }
    BOOL IsEmpty() const { return m_nCount == 0; }

    BOOL Lookup(const CString& key, CObject*& rValue) const;
    // Inserts or replaces; a new key goes to the head of its bucket.
    void SetAt(const CString& key, CObject* newValue);
    BOOL RemoveKey(const CString& key);
    // Forgets every entry; the values are not deleted.
    void RemoveAll();

    POSITION GetStartPosition() const;
    void GetNextAssoc(POSITION& rNextPosition, CString& rKey, CObject*& rValue) const;

private:
    struct CAssoc {
        CAssoc* pNext;
        CString key;
        CObject* value;
    };
    CAssoc* Find(const CString& key) const;

    std::array<CAssoc*, HASH_TABLE_SIZE> m_buckets{};
    size_t m_nCount = 0;
};
