#include "SerialPortFactory.h"

#include "SerialPortObject.h"

CSerialPortFactory::CSerialPortFactory(std::shared_ptr<CSerialPorts> pPorts)
    : m_pPorts(std::move(pPorts)) {}

HRESULT CSerialPortFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CSerialPortFactory::AddRef() {
    return ++m_nRefs;
}

ULONG CSerialPortFactory::Release() {
    const ULONG nRefs = --m_nRefs;
    if (nRefs == 0) {
        delete this;
    }
    return nRefs;
}

HRESULT CSerialPortFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (pUnkOuter != nullptr) {
        return E_NOINTERFACE;  // no aggregation
    }
    CSerialPortObject* pObject = new CSerialPortObject(m_pPorts);
    const HRESULT hr = pObject->QueryInterface(riid, ppv);
    pObject->Release();
    return hr;
}

HRESULT CSerialPortFactory::LockServer(BOOL fLock) {
    m_pPorts->LockServer(fLock);
    return S_OK;
}
