// The class object of the serial server: makes client objects over the
// shared ports, and counts server locks.
#pragma once

#include <memory>

#include "SerialPorts.h"
#include "ServerObject.h"

class CSerialPortFactory final : public CServerObject<IClassFactory, IID_IClassFactory> {
public:
    // With one reference, the caller's.
    explicit CSerialPortFactory(std::shared_ptr<CSerialPorts> pPorts);
    CSerialPortFactory(const CSerialPortFactory&) = delete;
    CSerialPortFactory& operator=(const CSerialPortFactory&) = delete;

    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL fLock) override;

private:
    ~CSerialPortFactory() override = default;

    const std::shared_ptr<CSerialPorts> m_pPorts;
};
