// A proxy of a dispatch interface: IDispatch's own members are not offered
// across the wire, so they answer E_NOTIMPL without a round trip.
#pragma once

#include "RpcProxyImpl.h"

template <class Itf>
class CRpcDispatchProxyImpl : public CRpcProxyImpl<CNoDispatch<Itf>> {
public:
    using CRpcProxyImpl<CNoDispatch<Itf>>::CRpcProxyImpl;
};
