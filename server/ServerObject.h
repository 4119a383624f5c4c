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
