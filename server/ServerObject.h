// What the server's objects share as COM objects: a reference count that
// deletes the object with its last Release, and QueryInterface for
// IUnknown and the one interface TInterface (IID iid) the object carries,
// with IDispatch as well for a dispatch interface, whose own members (type
// information, names, Invoke) answer E_NOTIMPL: clients call the vtable.
#pragma once

#include <atomic>
#include <type_traits>

#include "platform/com/OleAuto.h"

template <typename TInterface, const IID& iid>
class CServerObject : public TInterface {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        const bool bDispatch = std::is_base_of_v<IDispatch, TInterface> && riid == IID_IDispatch;
        if (riid == IID_IUnknown || riid == iid || bDispatch) {
            *ppv = static_cast<TInterface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override {
        const ULONG nRefs = --m_nRefs;
        if (nRefs == 0) {
            delete this;
        }
        return nRefs;
    }

protected:
    // Objects start with one reference, their creator's.
    CServerObject() = default;
    virtual ~CServerObject() = default;

private:
    std::atomic<ULONG> m_nRefs{1};
};

template <typename TInterface, const IID& iid>
class CServerDispatchObject : public CServerObject<TInterface, iid> {
public:
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};
