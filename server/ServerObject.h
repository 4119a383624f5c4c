// What the server's objects share as COM objects: a reference count that
// deletes the object with its last Release, and QueryInterface for
// IUnknown and the one interface TInterface (IID iid) the object carries,
// with IDispatch as well for a dispatch interface, whose own members (type
// information, names, Invoke) answer E_NOTIMPL: clients call the vtable.
#pragma once

#include <type_traits>

#include "platform/com/OleAuto.h"

template <typename TInterface, const IID& iid, typename TBase = CRefCounted<TInterface>>
class CServerObject : public TBase {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        const bool bDispatch = std::is_base_of_v<IDispatch, TInterface> && riid == IID_IDispatch;
        if (riid == IID_IUnknown || riid == iid || bDispatch) {
            *ppv = static_cast<TInterface*>(this);
            this->AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

protected:
    // Objects start with one reference, their creator's.
    CServerObject() = default;
};

template <typename TInterface, const IID& iid>
using CServerDispatchObject = CServerObject<TInterface, iid, CRefCounted<CNoDispatch<TInterface>>>;

// A property's value through its out parameter: E_POINTER when there is none.
template <typename T, typename V>
HRESULT ReturnValue(T* pVal, const V& value) {
    if (pVal == nullptr) {
        return E_POINTER;
    }
    *pVal = static_cast<T>(value);
    return S_OK;
}

// A method's result through an out parameter the caller may leave out.
inline HRESULT ReturnResult(VARIANT_BOOL* pResult, bool bResult) {
    if (pResult != nullptr) {
        *pResult = bResult ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return S_OK;
}
