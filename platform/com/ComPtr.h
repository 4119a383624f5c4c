// Owning holders for interface references and BSTRs: whatever is held is
// released exactly once, on every path out of the scope that holds it.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "OleAuto.h"

// One counted reference to an interface. Copying adds a reference, moving
// hands the one held over.
template <typename T>
class CComPtr {
public:
    CComPtr() = default;
    CComPtr(std::nullptr_t) {}
    // Adds a reference of its own; the caller keeps the one it has.
    CComPtr(T* p) : m_p(p) {
        if (m_p != nullptr) {
            m_p->AddRef();
        }
    }
    CComPtr(const CComPtr& other) : CComPtr(other.m_p) {}
    CComPtr(CComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~CComPtr() { Release(); }

    CComPtr& operator=(const CComPtr& other) {
        CComPtr copy(other);
        Swap(copy);
        return *this;
    }
    CComPtr& operator=(CComPtr&& other) noexcept {
        CComPtr taken(std::move(other));
        Swap(taken);
        return *this;
    }
    CComPtr& operator=(T* p) { return *this = CComPtr(p); }

    // Drops the reference held, if any.
    void Release() {
        if (T* p = std::exchange(m_p, nullptr)) {
            p->Release();
        }
    }
    // Takes a reference the caller owns, without adding one.
    void Attach(T* p) {
        CComPtr taken;
        taken.m_p = p;
        Swap(taken);
    }
    // Gives the reference up to the caller, without releasing it.
    T* Detach() { return std::exchange(m_p, nullptr); }

    // For an out parameter: what was held is released first, so a second
    // call through the same holder does not leak the first answer.
    T** operator&() {
        Release();
        return &m_p;
    }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    T* Get() const { return m_p; }

    // Asks for another interface; with a holder's address (&holder) the
    // answer goes into that holder.
    template <typename Q>
    HRESULT QueryInterface(REFIID riid, Q** ppOut) const {
        if (m_p == nullptr) {
            *ppOut = nullptr;
            return E_POINTER;
        }
        return m_p->QueryInterface(riid, reinterpret_cast<void**>(ppOut));
    }

    void Swap(CComPtr& other) noexcept { std::swap(m_p, other.m_p); }

private:
    T* m_p = nullptr;
};

// One BSTR, freed when the holder is done with it.
class CComBSTR {
public:
    CComBSTR() = default;
    // UTF-8 in, as AllocBstr.
    explicit CComBSTR(const std::string& s) : m_str(AllocBstr(s)) {}
    CComBSTR(const CComBSTR& other)
        : m_str(other.m_str != nullptr ? SysAllocStringLen(other.m_str, SysStringLen(other.m_str))
                                       : nullptr) {}
    CComBSTR(CComBSTR&& other) noexcept : m_str(std::exchange(other.m_str, nullptr)) {}
    ~CComBSTR() { Empty(); }

    CComBSTR& operator=(CComBSTR other) noexcept {
        std::swap(m_str, other.m_str);
        return *this;
    }

    void Empty() { SysFreeString(std::exchange(m_str, nullptr)); }
    void Attach(BSTR str) {
        Empty();
        m_str = str;
    }
    BSTR Detach() { return std::exchange(m_str, nullptr); }
    // For an out parameter; frees what was held first.
    BSTR* operator&() {
        Empty();
        return &m_str;
    }
    operator BSTR() const { return m_str; }
    UINT Length() const { return SysStringLen(m_str); }
    // UTF-8 out, empty for a null BSTR.
    std::string ToString() const { return BstrToString(m_str); }

private:
    BSTR m_str = nullptr;
};
