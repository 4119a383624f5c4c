// The class object of the serial server: makes client objects over the
// shared ports, and counts server locks.
#pragma once

#include <atomic>
#include <memory>

#include "SerialPorts.h"

class CSerialPortFactory final : public IClassFactory {
public:
    // With one reference, the caller's.
    explicit CSerialPortFactory(std::shared_ptr<CSerialPorts> pPorts);
    CSerialPortFactory(const CSerialPortFactory&) = delete;
    CSerialPortFactory& operator=(const CSerialPortFactory&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL fLock) override;

private:
    ~CSerialPortFactory() = default;

    std::atomic<ULONG> m_nRefs{1};
    const std::shared_ptr<CSerialPorts> m_pPorts;
};
