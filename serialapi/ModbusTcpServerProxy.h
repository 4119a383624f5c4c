// IModbusTcpServer of an object in another process.
#pragma once

#include "ModbusSerialServer.h"
#include "platform/com/rpc/RpcDispatchProxyImpl.h"

class CModbusTcpServerProxy : public CRpcDispatchProxyImpl<IModbusTcpServer> {
public:
    using CRpcDispatchProxyImpl<IModbusTcpServer>::CRpcDispatchProxyImpl;

    HRESULT get_Address(BSTR* pVal) override;
    HRESULT put_Address(BSTR newVal) override;
    HRESULT get_Port(LONG* pVal) override;
    HRESULT put_Port(SHORT newVal) override;
    HRESULT Start(VARIANT_BOOL* pResult) override;
    HRESULT Stop(VARIANT_BOOL* pResult) override;
    HRESULT get_Running(VARIANT_BOOL* pVal) override;
};
