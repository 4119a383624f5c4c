#include "SerialPortFactory.h"

#include "SerialPortObject.h"
#include "platform/com/ComPtr.h"

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
    CComPtr<CSerialPortObject> pObject;
    pObject.Attach(new CSerialPortObject(m_pPorts));
    return pObject->QueryInterface(riid, ppv);
}

HRESULT CSerialPortFactory::LockServer(BOOL fLock) {
    m_pPorts->LockServer(fLock);
    return S_OK;
}
