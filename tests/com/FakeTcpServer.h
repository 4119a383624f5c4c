// The TCP-server object of the fake serial server: its properties kept in
// memory, safe to call from several threads.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "transport/ModbusSerialServer.h"

class CFakeTcpServer : public IModbusTcpServer {
public:
    CFakeTcpServer();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override;
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT get_Address(BSTR* pVal) override;
    HRESULT put_Address(BSTR newVal) override;
    HRESULT get_Port(LONG* pVal) override;
    HRESULT put_Port(SHORT newVal) override;
    HRESULT Start(VARIANT_BOOL* pResult) override;
    HRESULT Stop(VARIANT_BOOL* pResult) override;
    HRESULT get_Running(VARIANT_BOOL* pVal) override;

private:
    virtual ~CFakeTcpServer();

    std::atomic<ULONG> m_nRefs{1};
    std::mutex m_mutex;
    std::u16string m_strAddress = u"0.0.0.0";
    std::atomic<LONG> m_nPort{502};
    std::atomic<bool> m_bRunning{false};
};
