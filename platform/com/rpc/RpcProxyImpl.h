// The IUnknown part of every proxy: its own reference count, IUnknown and
// its own interface (and IDispatch for dispatch interfaces) answered here,
// other interfaces asked of the server. The last Release destroys the proxy,
// which gives the server's reference back.
#pragma once

#include <memory>
#include <type_traits>

#include "RpcRemoteObject.h"

template <class Itf>
class CRpcProxyImpl : public CRefCounted<Itf> {
public:
    explicit CRpcProxyImpl(std::unique_ptr<CRpcRemoteObject> pRemote)
        : m_pRemote(std::move(pRemote)) {}

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        bool bLocal = riid == IID_IUnknown || riid == m_pRemote->GetIid();
        if constexpr (std::is_base_of_v<IDispatch, Itf>) {
            bLocal = bLocal || riid == IID_IDispatch;
        }
        if (bLocal) {
            this->AddRef();
            *ppvObject = static_cast<Itf*>(this);
            return S_OK;
        }
        return m_pRemote->QueryInterface(riid, ppvObject);
    }

protected:
    CRpcRemoteObject& Remote() { return *m_pRemote; }

private:
    std::unique_ptr<CRpcRemoteObject> m_pRemote;
};
