#include "ErrorInfo.h"

#include "ComPtr.h"
#include "platform/Unicode.h"

const IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

namespace {
class CErrorInfo final : public CRefCounted<IErrorInfo>, public ICreateErrorInfo {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
            *ppv = static_cast<IErrorInfo*>(this);
        } else if (riid == IID_ICreateErrorInfo) {
            *ppv = static_cast<ICreateErrorInfo*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return CRefCounted<IErrorInfo>::AddRef(); }
    ULONG Release() override { return CRefCounted<IErrorInfo>::Release(); }

    HRESULT GetGUID(GUID* pGUID) override {
        *pGUID = m_guid;
        return S_OK;
    }
    HRESULT GetSource(BSTR* pBstrSource) override { return Copy(m_source, pBstrSource); }
    HRESULT GetDescription(BSTR* pBstr) override { return Copy(m_description, pBstr); }
    HRESULT GetHelpFile(BSTR* pBstrHelpFile) override { return Copy(m_helpFile, pBstrHelpFile); }
    HRESULT GetHelpContext(DWORD* pdwHelpContext) override {
        *pdwHelpContext = m_dwHelpContext;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID rguid) override {
        m_guid = rguid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR sz) override { return Keep(sz, m_source); }
    HRESULT SetDescription(LPOLESTR sz) override { return Keep(sz, m_description); }
    HRESULT SetHelpFile(LPOLESTR sz) override { return Keep(sz, m_helpFile); }
    HRESULT SetHelpContext(DWORD dwHelpContext) override {
        m_dwHelpContext = dwHelpContext;
        return S_OK;
    }

private:
    static HRESULT Copy(const CComBSTR& from, BSTR* pTo) {
        *pTo = from != nullptr ? SysAllocStringLen(from, from.Length()) : nullptr;
        return S_OK;
    }
    static HRESULT Keep(LPOLESTR sz, CComBSTR& to) {
        to.Attach(sz != nullptr ? SysAllocString(sz) : nullptr);
        return S_OK;
    }

    GUID m_guid = IID_NULL;
    CComBSTR m_source, m_description, m_helpFile;
    DWORD m_dwHelpContext = 0;
};

thread_local CComPtr<IErrorInfo> t_pErrorInfo;
}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (pperrinfo == nullptr) {
        return E_INVALIDARG;
    }
    *pperrinfo = new CErrorInfo;
    return S_OK;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* perrinfo) {
    t_pErrorInfo = perrinfo;
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** pperrinfo) {
    if (pperrinfo == nullptr) {
        return E_INVALIDARG;
    }
    *pperrinfo = t_pErrorInfo.Detach();
    return *pperrinfo != nullptr ? S_OK : S_FALSE;
}

std::string TakeErrorDescription() {
    CComPtr<IErrorInfo> pInfo;
    CComBSTR description;
    if (GetErrorInfo(0, &pInfo) != S_OK || FAILED(pInfo->GetDescription(&description))) {
        return std::string();
    }
    return description.ToString();
}

void SetErrorDescription(const std::string& strDescription) {
    CComPtr<ICreateErrorInfo> pCreate;
    CComPtr<IErrorInfo> pInfo;
    std::u16string wide = MultiByteToWide(strDescription);
    if (SUCCEEDED(CreateErrorInfo(&pCreate)) && SUCCEEDED(pCreate->SetDescription(wide.data())) &&
        SUCCEEDED(pCreate.QueryInterface(IID_IErrorInfo, &pInfo))) {
        SetErrorInfo(0, pInfo);
    }
}
