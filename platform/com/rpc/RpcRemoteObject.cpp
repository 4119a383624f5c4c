#include "RpcRemoteObject.h"

#include "RpcFrame.h"
#include "RpcInterfaceHandler.h"

CRpcRemoteObject::CRpcRemoteObject(std::shared_ptr<CRpcChannel> pChannel, DWORD dwObjectId,
                                   REFIID riid)
    : m_pChannel(std::move(pChannel)), m_dwObjectId(dwObjectId), m_iid(riid) {}

CRpcRemoteObject::~CRpcRemoteObject() {
    CRpcFrameWriter release(RPC_MSG_RELEASE, 0);
    release.PutU32(m_dwObjectId);
    m_pChannel->Post(release);
}

CRpcFrameWriter CRpcRemoteObject::BeginCall(UINT nSlot) const {
    CRpcFrameWriter request(RPC_MSG_CALL, 0);
    request.PutU32(m_dwObjectId);
    request.PutGuid(m_iid);
    request.PutU16(static_cast<WORD>(nSlot));
    return request;
}

HRESULT CRpcRemoteObject::Invoke(CRpcFrameWriter& request, CRpcFrameReader* pResults) {
    HRESULT hr = m_pChannel->Call(request, pResults);
    if (FAILED(hr)) {
        *pResults = CRpcFrameReader();
        return hr;
    }
    LONG hrMember;
    if (!pResults->GetI32(hrMember)) {
        *pResults = CRpcFrameReader();
        return RPC_X_BAD_STUB_DATA_HR;
    }
    return hrMember;
}

HRESULT CRpcRemoteObject::Unmarshal(const std::shared_ptr<CRpcChannel>& pChannel, DWORD dwObjectId,
                                    REFIID riid, void** ppv) {
    // Made first, so that the server's reference is given back on any failure.
    auto pRemote = std::make_unique<CRpcRemoteObject>(pChannel, dwObjectId, riid);
    CRpcInterfaceHandler* pHandler = RpcFindInterfaceHandler(riid);
    if (pHandler == nullptr) {
        return E_NOINTERFACE;
    }
    return pHandler->CreateProxy(std::move(pRemote), ppv);
}

HRESULT CRpcRemoteObject::QueryInterface(REFIID riid, void** ppv) {
    *ppv = nullptr;
    // Without a proxy for the interface its pointer could not be used here.
    if (RpcFindInterfaceHandler(riid) == nullptr) {
        return E_NOINTERFACE;
    }
    CRpcFrameWriter request(RPC_MSG_QUERY, 0);
    request.PutU32(m_dwObjectId);
    request.PutGuid(riid);
    CRpcFrameReader answer;
    HRESULT hr = Invoke(request, &answer);
    if (FAILED(hr)) {
        return hr;
    }
    DWORD dwObjectId;
    if (!answer.GetU32(dwObjectId) || !answer.IsDone() || dwObjectId == 0) {
        return RPC_X_BAD_STUB_DATA_HR;
    }
    return Unmarshal(m_pChannel, dwObjectId, riid, ppv);
}

bool CRpcRemoteObject::GetInterface(CRpcFrameReader& results, void** ppv) {
    *ppv = nullptr;
    DWORD dwObjectId;
    IID iid;
    if (!results.GetU32(dwObjectId) || !results.GetGuid(iid)) {
        return false;
    }
    return dwObjectId == 0 || SUCCEEDED(Unmarshal(m_pChannel, dwObjectId, iid, ppv));
}

template <typename T>
HRESULT CRpcRemoteObject::GetScalar(UINT nSlot, T* pVal) {
    if (pVal == nullptr) {
        return E_POINTER;
    }
    *pVal = 0;
    CRpcFrameWriter request = BeginCall(nSlot);
    CRpcFrameReader results;
    HRESULT hr = Invoke(request, &results);
    if (results.GetRemaining() == 0) {
        return hr;
    }
    bool bOk;
    if constexpr (sizeof(T) == 2) {
        bOk = results.GetI16(*pVal);
    } else {
        bOk = results.GetI32(*pVal);
    }
    if (!bOk || !results.IsDone()) {
        *pVal = 0;
        return RPC_X_BAD_STUB_DATA_HR;
    }
    return hr;
}

HRESULT CRpcRemoteObject::GetLong(UINT nSlot, LONG* pVal) {
    return GetScalar(nSlot, pVal);
}

HRESULT CRpcRemoteObject::GetShort(UINT nSlot, SHORT* pVal) {
    return GetScalar(nSlot, pVal);
}

HRESULT CRpcRemoteObject::GetBstr(UINT nSlot, BSTR* pVal) {
    if (pVal == nullptr) {
        return E_POINTER;
    }
    *pVal = nullptr;
    CRpcFrameWriter request = BeginCall(nSlot);
    CRpcFrameReader results;
    HRESULT hr = Invoke(request, &results);
    if (results.GetRemaining() == 0) {
        return hr;
    }
    if (!results.GetBstr(pVal) || !results.IsDone()) {
        SysFreeString(*pVal);
        *pVal = nullptr;
        return RPC_X_BAD_STUB_DATA_HR;
    }
    return hr;
}

HRESULT CRpcRemoteObject::PutLong(UINT nSlot, LONG newVal) {
    CRpcFrameWriter request = BeginCall(nSlot);
    request.PutI32(newVal);
    CRpcFrameReader results;
    return Invoke(request, &results);
}

HRESULT CRpcRemoteObject::PutShort(UINT nSlot, SHORT newVal) {
    CRpcFrameWriter request = BeginCall(nSlot);
    request.PutI16(newVal);
    CRpcFrameReader results;
    return Invoke(request, &results);
}

HRESULT CRpcRemoteObject::PutBstr(UINT nSlot, BSTR newVal) {
    CRpcFrameWriter request = BeginCall(nSlot);
    request.PutBstr(newVal);
    CRpcFrameReader results;
    return Invoke(request, &results);
}
