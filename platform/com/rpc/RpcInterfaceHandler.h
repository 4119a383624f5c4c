// The proxy and stub of one interface, registered by IID so that the
// remoting layer itself knows no interface beyond IUnknown and IDispatch.
// Proxies of IUnknown and IDispatch are built in: they answer the members of
// those interfaces locally (IDispatch's own with E_NOTIMPL) and ask the
// server for any other interface.
#pragma once

#include <memory>

#include "RpcFrameReader.h"
#include "RpcObjectExporter.h"

class CRpcRemoteObject;

class CRpcInterfaceHandler {
public:
    virtual ~CRpcInterfaceHandler() = default;

    // Wraps the remote object in a proxy of this interface with one
    // reference; the proxy owns the remote object from then on (on failure
    // it is dropped, which releases it on the server).
    virtual HRESULT CreateProxy(std::unique_ptr<CRpcRemoteObject> pRemote, void** ppv) = 0;
    // Calls the member at nSlot of pItf, a pointer to this interface, with
    // the arguments in args; writes the out-arguments to results and returns
    // the member's HRESULT. When the member cannot be called (no such slot,
    // malformed arguments) returns the reason and writes nothing.
    virtual HRESULT Invoke(void* pItf, UINT nSlot, CRpcFrameReader& args, CRpcFrameWriter& results,
                           CRpcObjectExporter& exporter) = 0;
};

// Registers the handler (which must outlive every use) for the interface;
// a later registration for the same IID replaces it.
HRESULT CoRegisterProxyStub(REFIID riid, CRpcInterfaceHandler* pHandler);
// The handler for the interface; null when none is registered.
CRpcInterfaceHandler* RpcFindInterfaceHandler(REFIID riid);
