#include "ComApi.h"

#include <mutex>
#include <vector>

#include "Remoting.h"

namespace {
thread_local int t_nInitCount = 0;

struct Registration {
    DWORD dwCookie;
    CLSID clsid;
    IUnknown* pUnk;
    DWORD dwClsContext;
};

std::mutex g_registryMutex;
std::vector<Registration> g_registrations;
DWORD g_nextCookie = 1;

// The registered class object for the class and context, with a reference.
IUnknown* FindClassObject(REFCLSID rclsid, DWORD dwClsCtx) {
    std::lock_guard<std::mutex> guard(g_registryMutex);
    for (const Registration& r : g_registrations) {
        if (r.clsid == rclsid && (r.dwClsContext & dwClsCtx) != 0) {
            r.pUnk->AddRef();
            return r.pUnk;
        }
    }
    return nullptr;
}

HRESULT CreateFromClassObject(IUnknown* pClassObject, IUnknown** ppUnk) {
    IClassFactory* pFactory = nullptr;
    HRESULT hr =
        pClassObject->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr)) {
        return hr;
    }
    hr = pFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(ppUnk));
    pFactory->Release();
    return hr;
}
}  // namespace

HRESULT CoInitializeEx(void*, DWORD) {
    return t_nInitCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (t_nInitCount > 0) {
        --t_nInitCount;
    }
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD,
                              DWORD* lpdwRegister) {
    if (pUnk == nullptr || lpdwRegister == nullptr) {
        return E_INVALIDARG;
    }
    pUnk->AddRef();
    std::lock_guard<std::mutex> guard(g_registryMutex);
    *lpdwRegister = g_nextCookie++;
    g_registrations.push_back({*lpdwRegister, rclsid, pUnk, dwClsContext});
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
    IUnknown* pUnk = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_registryMutex);
        for (auto it = g_registrations.begin(); it != g_registrations.end(); ++it) {
            if (it->dwCookie == dwRegister) {
                pUnk = it->pUnk;
                g_registrations.erase(it);
                break;
            }
        }
    }
    if (pUnk == nullptr) {
        return E_INVALIDARG;
    }
    pUnk->Release();
    return S_OK;
}

HRESULT CoCreateInstanceEx(REFCLSID Clsid, IUnknown* punkOuter, DWORD dwClsCtx,
                           COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults) {
    if (dwCount == 0 || pResults == nullptr) {
        return E_INVALIDARG;
    }
    for (DWORD i = 0; i < dwCount; ++i) {
        pResults[i].pItf = nullptr;
        pResults[i].hr = E_NOINTERFACE;
    }
    if (t_nInitCount == 0) {
        return CO_E_NOTINITIALIZED;
    }
    if (punkOuter != nullptr) {
        return E_NOINTERFACE;  // aggregation across processes is not offered
    }
    IUnknown* pObject = nullptr;
    HRESULT hr = REGDB_E_CLASSNOTREG;
    if (IUnknown* pClassObject = FindClassObject(Clsid, dwClsCtx)) {
        hr = CreateFromClassObject(pClassObject, &pObject);
        pClassObject->Release();
    } else if (dwClsCtx & CLSCTX_REMOTE_SERVER && pServerInfo != nullptr &&
               pServerInfo->pwszName != nullptr && pServerInfo->pwszName[0] != u'\0') {
        hr = ComActivateRemote(Clsid, pServerInfo->pwszName, &pObject);
    } else if (dwClsCtx & CLSCTX_LOCAL_SERVER) {
        hr = ComActivateLocal(Clsid, &pObject);
    }
    if (FAILED(hr)) {
        return hr;
    }
    DWORD nGot = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        pResults[i].hr =
            pObject->QueryInterface(*pResults[i].pIID, reinterpret_cast<void**>(&pResults[i].pItf));
        if (SUCCEEDED(pResults[i].hr)) {
            ++nGot;
        } else {
            pResults[i].pItf = nullptr;
        }
    }
    pObject->Release();
    if (nGot == 0) {
        return E_NOINTERFACE;
    }
    return nGot == dwCount ? S_OK : static_cast<HRESULT>(0x00080012);  // CO_S_NOTALLINTERFACES
}
