#include "ModbusTcpServerProxy.h"

#include "ModbusSerialServerPs.h"

HRESULT CModbusTcpServerProxy::get_Address(BSTR* pVal) {
    return Remote().GetBstr(TCP_SLOT_GET_ADDRESS, pVal);
}

HRESULT CModbusTcpServerProxy::put_Address(BSTR newVal) {
    return Remote().PutBstr(TCP_SLOT_PUT_ADDRESS, newVal);
}

HRESULT CModbusTcpServerProxy::get_Port(LONG* pVal) {
    return Remote().GetLong(TCP_SLOT_GET_PORT, pVal);
}

HRESULT CModbusTcpServerProxy::put_Port(SHORT newVal) {
    return Remote().PutShort(TCP_SLOT_PUT_PORT, newVal);
}

HRESULT CModbusTcpServerProxy::Start(VARIANT_BOOL* pResult) {
    return Remote().GetShort(TCP_SLOT_START, pResult);
}

HRESULT CModbusTcpServerProxy::Stop(VARIANT_BOOL* pResult) {
    return Remote().GetShort(TCP_SLOT_STOP, pResult);
}

HRESULT CModbusTcpServerProxy::get_Running(VARIANT_BOOL* pVal) {
    return Remote().GetShort(TCP_SLOT_GET_RUNNING, pVal);
}
