#include "RpcInterfaceHandler.h"

#include <mutex>
#include <vector>

#include "RpcDispatchProxyImpl.h"
#include "RpcFrame.h"

namespace {
// IUnknown's members never cross the wire; IDispatch's are not offered.
template <class Itf, class Proxy>
class CBuiltInHandler : public CRpcInterfaceHandler {
public:
    HRESULT CreateProxy(std::unique_ptr<CRpcRemoteObject> pRemote, void** ppv) override {
        *ppv = static_cast<Itf*>(new Proxy(std::move(pRemote)));
        return S_OK;
    }
    HRESULT Invoke(void*, UINT nSlot, CRpcFrameReader&, CRpcFrameWriter&,
                   CRpcObjectExporter&) override {
        return nSlot >= 3 && nSlot <= 6 && std::is_same_v<Itf, IDispatch>
                   ? E_NOTIMPL
                   : RPC_S_PROCNUM_OUT_OF_RANGE_HR;
    }
};

class CUnknownProxy : public CRpcProxyImpl<IUnknown> {
public:
    using CRpcProxyImpl<IUnknown>::CRpcProxyImpl;
};

class CDispatchProxy : public CRpcDispatchProxyImpl<IDispatch> {
public:
    using CRpcDispatchProxyImpl<IDispatch>::CRpcDispatchProxyImpl;
};

CBuiltInHandler<IUnknown, CUnknownProxy> g_unknownHandler;
CBuiltInHandler<IDispatch, CDispatchProxy> g_dispatchHandler;

struct CRegistration {
    IID iid;
    CRpcInterfaceHandler* pHandler;
};

std::mutex g_mutex;
std::vector<CRegistration> g_registrations;
}  // namespace

HRESULT CoRegisterProxyStub(REFIID riid, CRpcInterfaceHandler* pHandler) {
    if (pHandler == nullptr || riid == IID_IUnknown || riid == IID_IDispatch) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    for (CRegistration& r : g_registrations) {
        if (r.iid == riid) {
            r.pHandler = pHandler;
            return S_OK;
        }
    }
    g_registrations.push_back({riid, pHandler});
    return S_OK;
}

CRpcInterfaceHandler* RpcFindInterfaceHandler(REFIID riid) {
    if (riid == IID_IUnknown) {
        return &g_unknownHandler;
    }
    if (riid == IID_IDispatch) {
        return &g_dispatchHandler;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    for (const CRegistration& r : g_registrations) {
        if (r.iid == riid) {
            return r.pHandler;
        }
    }
    return nullptr;
}
