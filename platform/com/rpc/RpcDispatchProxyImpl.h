// A proxy of a dispatch interface: IDispatch's own members are not offered
// across the wire, so they answer E_NOTIMPL without a round trip.
#pragma once

#include "RpcProxyImpl.h"

template <class Itf>
class CRpcDispatchProxyImpl : public CRpcProxyImpl<Itf> {
public:
    using CRpcProxyImpl<Itf>::CRpcProxyImpl;

    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};
