#include "ComApi.h"

#include <mutex>
#include <vector>

#include "ComPtr.h"

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
    CComPtr<IClassFactory> pFactory;
    HRESULT hr =
        pClassObject->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr)) {
        return hr;
    }
    return pFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(ppUnk));
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

bool CoIsInitialized() {
    return t_nInitCount > 0;
}

HRESULT CoCreateRegistered(REFCLSID rclsid, DWORD dwClsCtx, IUnknown** ppUnk) {
    *ppUnk = nullptr;
    CComPtr<IUnknown> pClassObject;
    pClassObject.Attach(FindClassObject(rclsid, dwClsCtx));
    if (pClassObject == nullptr) {
        return S_FALSE;
    }
    return CreateFromClassObject(pClassObject, ppUnk);
}
