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

namespace {
// How each property type travels: read, written, and dropped when the
// answer turns out malformed.
bool TakeValue(CRpcFrameReader& results, SHORT* pVal) {
    return results.GetI16(*pVal);
}
bool TakeValue(CRpcFrameReader& results, LONG* pVal) {
    return results.GetI32(*pVal);
}
bool TakeValue(CRpcFrameReader& results, BSTR* pVal) {
    return results.GetBstr(pVal);
}
void PutValue(CRpcFrameWriter& request, SHORT newVal) {
    request.PutI16(newVal);
}
void PutValue(CRpcFrameWriter& request, LONG newVal) {
    request.PutI32(newVal);
}
void PutValue(CRpcFrameWriter& request, BSTR newVal) {
    request.PutBstr(newVal);
}
void DropValue(SHORT* pVal) {
    *pVal = 0;
}
void DropValue(LONG* pVal) {
    *pVal = 0;
}
void DropValue(BSTR* pVal) {
    SysFreeString(*pVal);
    *pVal = nullptr;
}
}  // namespace

template <typename T>
HRESULT CRpcRemoteObject::GetValue(UINT nSlot, T* pVal) {
    if (pVal == nullptr) {
        return E_POINTER;
    }
    *pVal = T{};
    CRpcFrameWriter request = BeginCall(nSlot);
    CRpcFrameReader results;
    HRESULT hr = Invoke(request, &results);
    if (results.GetRemaining() == 0) {
        return hr;
    }
    if (!TakeValue(results, pVal) || !results.IsDone()) {
        DropValue(pVal);
        return RPC_X_BAD_STUB_DATA_HR;
    }
    return hr;
}

template <typename T>
HRESULT CRpcRemoteObject::SetValue(UINT nSlot, T newVal) {
    CRpcFrameWriter request = BeginCall(nSlot);
    PutValue(request, newVal);
    CRpcFrameReader results;
    return Invoke(request, &results);
}

HRESULT CRpcRemoteObject::GetLong(UINT nSlot, LONG* pVal) {
    return GetValue(nSlot, pVal);
}

HRESULT CRpcRemoteObject::GetShort(UINT nSlot, SHORT* pVal) {
    return GetValue(nSlot, pVal);
}

HRESULT CRpcRemoteObject::GetBstr(UINT nSlot, BSTR* pVal) {
    return GetValue(nSlot, pVal);
}

HRESULT CRpcRemoteObject::PutLong(UINT nSlot, LONG newVal) {
    return SetValue(nSlot, newVal);
}

HRESULT CRpcRemoteObject::PutShort(UINT nSlot, SHORT newVal) {
    return SetValue(nSlot, newVal);
}

HRESULT CRpcRemoteObject::PutBstr(UINT nSlot, BSTR newVal) {
    return SetValue(nSlot, newVal);
}
