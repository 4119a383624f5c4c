#include "FakeClassFactory.h"

#include "FakeSerialPort.h"

HRESULT CFakeClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT CFakeClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (pUnkOuter != nullptr) {
        return E_NOINTERFACE;
    }
    auto* pPort = new CFakeSerialPort();
    HRESULT hr = pPort->QueryInterface(riid, ppv);
    pPort->Release();
    return hr;
}
