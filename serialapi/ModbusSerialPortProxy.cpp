#include "ModbusSerialPortProxy.h"

#include "ModbusSerialServerPs.h"
#include "platform/com/ComPtr.h"
#include "platform/com/rpc/RpcFrame.h"

HRESULT CModbusSerialPortProxy::get_Port(LONG* pVal) {
    return Remote().GetLong(SERIAL_SLOT_GET_PORT, pVal);
}

HRESULT CModbusSerialPortProxy::put_Port(SHORT newVal) {
    return Remote().PutShort(SERIAL_SLOT_PUT_PORT, newVal);
}

HRESULT CModbusSerialPortProxy::get_BaudRate(LONG* pVal) {
    return Remote().GetLong(SERIAL_SLOT_GET_BAUD_RATE, pVal);
}

HRESULT CModbusSerialPortProxy::put_BaudRate(LONG newVal) {
    return Remote().PutLong(SERIAL_SLOT_PUT_BAUD_RATE, newVal);
}

HRESULT CModbusSerialPortProxy::get_Parity(SHORT* pVal) {
    return Remote().GetShort(SERIAL_SLOT_GET_PARITY, pVal);
}

HRESULT CModbusSerialPortProxy::put_Parity(SHORT newVal) {
    return Remote().PutShort(SERIAL_SLOT_PUT_PARITY, newVal);
}

HRESULT CModbusSerialPortProxy::get_FlowControl(LONG* pVal) {
    return Remote().GetLong(SERIAL_SLOT_GET_FLOW_CONTROL, pVal);
}

HRESULT CModbusSerialPortProxy::put_FlowControl(SHORT newVal) {
    return Remote().PutShort(SERIAL_SLOT_PUT_FLOW_CONTROL, newVal);
}

HRESULT CModbusSerialPortProxy::Connect(VARIANT_BOOL* pResult) {
    return Remote().GetShort(SERIAL_SLOT_CONNECT, pResult);
}

HRESULT CModbusSerialPortProxy::SelectPort(BSTR name, LONG nOne, SHORT* pResult) {
    CRpcFrameWriter request = Remote().BeginCall(SERIAL_SLOT_SELECT_PORT);
    request.PutBstr(name);
    request.PutI32(nOne);
    request.PutU8(pResult != nullptr);
    CRpcFrameReader results;
    HRESULT hr = Remote().Invoke(request, &results);
    if (pResult == nullptr) {
        return hr;
    }
    *pResult = 0;
    if (results.GetRemaining() != 0 && (!results.GetI16(*pResult) || !results.IsDone())) {
        *pResult = 0;
        return RPC_X_BAD_STUB_DATA_HR;
    }
    return hr;
}

HRESULT CModbusSerialPortProxy::get_Active(VARIANT_BOOL* pVal) {
    return Remote().GetShort(SERIAL_SLOT_GET_ACTIVE, pVal);
}

HRESULT CModbusSerialPortProxy::Transfer(VARIANT request, LONG nRequestLength, VARIANT* pResponse,
                                         LONG nResponseLength, VARIANT* pExtra, LONG* pStatus) {
    // Null pointers reach the server object as null, as they would in process.
    CRpcFrameWriter call = Remote().BeginCall(SERIAL_SLOT_TRANSFER);
    HRESULT hr = call.PutVariant(request);
    if (FAILED(hr)) {
        return hr;
    }
    call.PutI32(nRequestLength);
    call.PutI32(nResponseLength);
    call.PutU8(pResponse != nullptr);
    call.PutU8(pExtra != nullptr);
    call.PutU8(pStatus != nullptr);
    if (pExtra != nullptr) {
        hr = call.PutVariant(*pExtra);
        if (FAILED(hr)) {
            return hr;
        }
    }
    CRpcFrameReader results;
    hr = Remote().Invoke(call, &results);
    // [out] values are the callee's to fill: whatever was there is not freed.
    if (pResponse != nullptr) {
        VariantInit(pResponse);
    }
    if (pStatus != nullptr) {
        *pStatus = 0;
    }
    if (results.GetRemaining() == 0) {
        return hr;
    }
    bool bOk = pResponse == nullptr || results.GetVariant(pResponse);
    bOk = bOk && (pExtra == nullptr || results.GetInOutVariant(pExtra));
    bOk = bOk && (pStatus == nullptr || results.GetI32(*pStatus));
    if (!bOk || !results.IsDone()) {
        if (pResponse != nullptr) {
            VariantClear(pResponse);
        }
        if (pStatus != nullptr) {
            *pStatus = 0;
        }
        return RPC_X_BAD_STUB_DATA_HR;
    }
    return hr;
}

HRESULT CModbusSerialPortProxy::get_TcpServer(IDispatch** ppVal) {
    if (ppVal == nullptr) {
        return E_POINTER;
    }
    *ppVal = nullptr;
    CRpcFrameWriter request = Remote().BeginCall(SERIAL_SLOT_GET_TCP_SERVER);
    CRpcFrameReader results;
    HRESULT hr = Remote().Invoke(request, &results);
    if (results.GetRemaining() == 0) {
        return hr;
    }
    CComPtr<IDispatch> pDispatch;
    if (!Remote().GetInterface(results, reinterpret_cast<void**>(&pDispatch)) ||
        !results.IsDone()) {
        return RPC_X_BAD_STUB_DATA_HR;
    }
    *ppVal = pDispatch.Detach();
    return hr;
}

HRESULT CModbusSerialPortProxy::get_SilentInterval(LONG* pVal) {
    return Remote().GetLong(SERIAL_SLOT_GET_SILENT_INTERVAL, pVal);
}

HRESULT CModbusSerialPortProxy::put_SilentInterval(LONG newVal) {
    return Remote().PutLong(SERIAL_SLOT_PUT_SILENT_INTERVAL, newVal);
}

HRESULT CModbusSerialPortProxy::get_Timeout(LONG* pVal) {
    return Remote().GetLong(SERIAL_SLOT_GET_TIMEOUT, pVal);
}

HRESULT CModbusSerialPortProxy::put_Timeout(LONG newVal) {
    return Remote().PutLong(SERIAL_SLOT_PUT_TIMEOUT, newVal);
}

HRESULT CModbusSerialPortProxy::get_StopBits(SHORT* pVal) {
    return Remote().GetShort(SERIAL_SLOT_GET_STOP_BITS, pVal);
}

HRESULT CModbusSerialPortProxy::put_StopBits(SHORT newVal) {
    return Remote().PutShort(SERIAL_SLOT_PUT_STOP_BITS, newVal);
}

HRESULT CModbusSerialPortProxy::get_Mode(SHORT* pVal) {
    return Remote().GetShort(SERIAL_SLOT_GET_MODE, pVal);
}

HRESULT CModbusSerialPortProxy::put_Mode(SHORT newVal) {
    return Remote().PutShort(SERIAL_SLOT_PUT_MODE, newVal);
}

HRESULT CModbusSerialPortProxy::get_ByteSize(SHORT* pVal) {
    return Remote().GetShort(SERIAL_SLOT_GET_BYTE_SIZE, pVal);
}

HRESULT CModbusSerialPortProxy::put_ByteSize(SHORT newVal) {
    return Remote().PutShort(SERIAL_SLOT_PUT_BYTE_SIZE, newVal);
}

HRESULT CModbusSerialPortProxy::get_ErrorDelay(LONG* pVal) {
    return Remote().GetLong(SERIAL_SLOT_GET_ERROR_DELAY, pVal);
}

HRESULT CModbusSerialPortProxy::put_ErrorDelay(LONG newVal) {
    return Remote().PutLong(SERIAL_SLOT_PUT_ERROR_DELAY, newVal);
}
