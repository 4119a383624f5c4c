#include "SerialPortFactory.h"

#include "SerialPortObject.h"

CSerialPortFactory::CSerialPortFactory(std::shared_ptr<CSerialPorts> pPorts)
    : m_pPorts(std::move(pPorts)) {}

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
