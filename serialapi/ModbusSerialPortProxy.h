// IModbusSerialPort of an object in another process.
#pragma once

#include "ModbusSerialServer.h"
#include "platform/com/rpc/RpcDispatchProxyImpl.h"

class CModbusSerialPortProxy : public CRpcDispatchProxyImpl<IModbusSerialPort> {
public:
    using CRpcDispatchProxyImpl<IModbusSerialPort>::CRpcDispatchProxyImpl;

    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT get_Port(LONG* pVal) override;
    HRESULT put_Port(SHORT newVal) override;
    HRESULT get_BaudRate(LONG* pVal) override;
    HRESULT put_BaudRate(LONG newVal) override;
    HRESULT get_Parity(SHORT* pVal) override;
    HRESULT put_Parity(SHORT newVal) override;
    HRESULT get_FlowControl(LONG* pVal) override;
    HRESULT put_FlowControl(SHORT newVal) override;
    HRESULT Connect(VARIANT_BOOL* pResult) override;
    HRESULT SelectPort(BSTR name, LONG nOne, SHORT* pResult) override;
    HRESULT Reserved18() override { return E_NOTIMPL; }
    HRESULT Reserved19() override { return E_NOTIMPL; }
    HRESULT Reserved20() override { return E_NOTIMPL; }
    HRESULT Reserved21() override { return E_NOTIMPL; }
    HRESULT Reserved22() override { return E_NOTIMPL; }
    HRESULT Reserved23() override { return E_NOTIMPL; }
    HRESULT Reserved24() override { return E_NOTIMPL; }
    HRESULT Reserved25() override { return E_NOTIMPL; }
    HRESULT Reserved26() override { return E_NOTIMPL; }
    HRESULT Reserved27() override { return E_NOTIMPL; }
    HRESULT Reserved28() override { return E_NOTIMPL; }
    HRESULT Reserved29() override { return E_NOTIMPL; }
    HRESULT get_Active(VARIANT_BOOL* pVal) override;
    HRESULT Reserved31() override { return E_NOTIMPL; }
    HRESULT Reserved32() override { return E_NOTIMPL; }
    HRESULT Reserved33() override { return E_NOTIMPL; }
    HRESULT Reserved34() override { return E_NOTIMPL; }
    HRESULT Transfer(VARIANT request, LONG nRequestLength, VARIANT* pResponse, LONG nResponseLength,
                     VARIANT* pExtra, LONG* pStatus) override;
    HRESULT get_TcpServer(IDispatch** ppVal) override;
    HRESULT Reserved37() override { return E_NOTIMPL; }
    HRESULT get_SilentInterval(LONG* pVal) override;
    HRESULT put_SilentInterval(LONG newVal) override;
    HRESULT get_Timeout(LONG* pVal) override;
    HRESULT put_Timeout(LONG newVal) override;
    HRESULT get_StopBits(SHORT* pVal) override;
    HRESULT put_StopBits(SHORT newVal) override;
    HRESULT get_Mode(SHORT* pVal) override;
    HRESULT put_Mode(SHORT newVal) override;
    HRESULT get_ByteSize(SHORT* pVal) override;
    HRESULT put_ByteSize(SHORT newVal) override;
    HRESULT Reserved48() override { return E_NOTIMPL; }
    HRESULT get_ErrorDelay(LONG* pVal) override;
    HRESULT put_ErrorDelay(LONG newVal) override;
};
