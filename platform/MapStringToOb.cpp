#include "MapStringToOb.h"

IMPLEMENT_DYNAMIC(CMapStringToOb, CObject)

UINT HashKey(const char* key) {
    UINT nHash = 0;
    while (*key != '\0') {
        nHash = (nHash << 5) + nHash + static_cast<UINT>(static_cast<signed char>(*key++));
    }
    return nHash;
}

CMapStringToOb::~CMapStringToOb() {
    RemoveAll();
}

CMapStringToOb::CAssoc* CMapStringToOb::Find(const CString& key) const {
    for (CAssoc* p = m_buckets[HashKey(key.c_str()) % HASH_TABLE_SIZE]; p != nullptr;
         p = p->pNext) {
        if (p->key == key) {
            return p;
        }
    }
    return nullptr;
}

BOOL CMapStringToOb::Lookup(const CString& key, CObject*& rValue) const {
    CAssoc* p = Find(key);
    if (p == nullptr) {
        return FALSE;
    }
    rValue = p->value;
    return TRUE;
}

void CMapStringToOb::SetAt(const CString& key, CObject* newValue) {
    if (CAssoc* p = Find(key)) {
        p->value = newValue;
        return;
    }
    CAssoc*& head = m_buckets[HashKey(key.c_str()) % HASH_TABLE_SIZE];
    head = new CAssoc{head, key, newValue};
    ++m_nCount;
}

BOOL CMapStringToOb::RemoveKey(const CString& key) {
    for (CAssoc** pp = &m_buckets[HashKey(key.c_str()) % HASH_TABLE_SIZE]; *pp != nullptr;
         pp = &(*pp)->pNext) {
        if ((*pp)->key == key) {
            CAssoc* p = *pp;
            *pp = p->pNext;
            delete p;
            --m_nCount;
            return TRUE;
        }
    }
    return FALSE;
}

void CMapStringToOb::RemoveAll() {
    for (CAssoc*& head : m_buckets) {
        while (head != nullptr) {
            CAssoc* p = head;
            head = p->pNext;
            delete p;
        }
    }
    m_nCount = 0;
}

POSITION CMapStringToOb::GetStartPosition() const {
    return m_nCount == 0 ? nullptr : BEFORE_START_POSITION;
}

void CMapStringToOb::GetNextAssoc(POSITION& rNextPosition, CString& rKey, CObject*& rValue) const {
    CAssoc* p = reinterpret_cast<CAssoc*>(rNextPosition);
    if (rNextPosition == BEFORE_START_POSITION) {
        p = nullptr;
        for (CAssoc* head : m_buckets) {
            if (head != nullptr) {
                p = head;
                break;
            }
        }
    }
    if (p == nullptr) {
        rNextPosition = nullptr;
        return;
    }
    CAssoc* pNext = p->pNext;
    if (pNext == nullptr) {
        for (UINT b = HashKey(p->key.c_str()) % HASH_TABLE_SIZE + 1; b < HASH_TABLE_SIZE; ++b) {
            if (m_buckets[b] != nullptr) {
                pNext = m_buckets[b];
                break;
            }
        }
    }
    rNextPosition = reinterpret_cast<POSITION>(pNext);
    rKey = p->key;
    rValue = p->value;
}
