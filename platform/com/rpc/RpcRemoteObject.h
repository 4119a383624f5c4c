// A client's hold on one interface of an object in a server process: an
// object id on a channel, worth one reference on the server until this is
// destroyed. Proxies make their calls through it.
#pragma once

#include <memory>

#include "RpcChannel.h"

class CRpcRemoteObject {
public:
    CRpcRemoteObject(std::shared_ptr<CRpcChannel> pChannel, DWORD dwObjectId, REFIID riid);
    // Tells the server to release its reference.
    ~CRpcRemoteObject();
    CRpcRemoteObject(const CRpcRemoteObject&) = delete;
    CRpcRemoteObject& operator=(const CRpcRemoteObject&) = delete;

    REFIID GetIid() const { return m_iid; }
    DWORD GetObjectId() const { return m_dwObjectId; }

    // A request to call the member at nSlot; the caller adds the arguments.
    CRpcFrameWriter BeginCall(UINT nSlot) const;
    // Makes the call. Returns the member's HRESULT, or why the call failed;
    // *pResults holds the out-arguments, nothing when the member did not run.
    HRESULT Invoke(CRpcFrameWriter& request, CRpcFrameReader* pResults);
    // Asks the server for another interface of the object.
    HRESULT QueryInterface(REFIID riid, void** ppv);
    // Reads an interface pointer from the results and wraps it in a proxy;
    // *ppv is null for a null pointer.
    bool GetInterface(CRpcFrameReader& results, void** ppv);

    // The shapes of property members: read-outs are 0 (or null) when the
    // member did not run.
    HRESULT GetLong(UINT nSlot, LONG* pVal);
    HRESULT GetShort(UINT nSlot, SHORT* pVal);
    HRESULT GetBstr(UINT nSlot, BSTR* pVal);
    HRESULT PutLong(UINT nSlot, LONG newVal);
    HRESULT PutShort(UINT nSlot, SHORT newVal);
    HRESULT PutBstr(UINT nSlot, BSTR newVal);

    // Wraps an object id received from the channel in a proxy of the
    // interface; the proxy takes over the server's reference.
    static HRESULT Unmarshal(const std::shared_ptr<CRpcChannel>& pChannel, DWORD dwObjectId,
                             REFIID riid, void** ppv);

private:
    // A property read or written in one call: SHORT, LONG or BSTR.
    template <typename T>
    HRESULT GetValue(UINT nSlot, T* pVal);
    template <typename T>
    HRESULT SetValue(UINT nSlot, T newVal);

    std::shared_ptr<CRpcChannel> m_pChannel;
    const DWORD m_dwObjectId;
    const IID m_iid;
};
