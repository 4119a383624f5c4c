#include "ModbusSerialServerPs.h"

#include "ModbusSerialPortProxy.h"
#include "ModbusTcpServerProxy.h"
#include "platform/com/rpc/RpcInterfaceHandler.h"
#include "platform/com/rpc/RpcStubHelpers.h"

namespace {
// Writes a variant the member returned; one that cannot travel goes as
// VT_EMPTY and turns a success into the reason.
void PutReturnedVariant(CRpcFrameWriter& results, const VARIANT& var, HRESULT* phr) {
    HRESULT hr = results.PutVariant(var);
    if (FAILED(hr)) {
        VARIANT empty;
        VariantInit(&empty);
        results.PutVariant(empty);
        if (SUCCEEDED(*phr)) {
            *phr = hr;
        }
    }
}

HRESULT StubSelectPort(IModbusSerialPort* p, CRpcFrameReader& args, CRpcFrameWriter& results) {
    CComBSTR name;
    LONG nOne;
    BYTE byHasResult;
    if (!args.GetBstr(&name) || !args.GetI32(nOne) || !args.GetU8(byHasResult) || !args.IsDone()) {
        return RPC_X_BAD_STUB_DATA_HR;
    }
    SHORT nResult = 0;
    HRESULT hr = p->SelectPort(name, nOne, byHasResult ? &nResult : nullptr);
    if (byHasResult) {
        results.PutI16(nResult);
    }
    return hr;
}

HRESULT StubTransfer(IModbusSerialPort* p, CRpcFrameReader& args, CRpcFrameWriter& results) {
    VARIANT request, response, extra;
    VariantInit(&response);
    VariantInit(&extra);
    LONG nRequestLength = 0, nResponseLength = 0;
    BYTE byHasResponse = 0, byHasExtra = 0, byHasStatus = 0;
    bool bOk = args.GetVariant(&request) && args.GetI32(nRequestLength) &&
               args.GetI32(nResponseLength) && args.GetU8(byHasResponse) &&
               args.GetU8(byHasExtra) && args.GetU8(byHasStatus) &&
               (!byHasExtra || args.GetVariant(&extra)) && args.IsDone();
    if (!bOk) {
        VariantClear(&request);
        VariantClear(&extra);
        return RPC_X_BAD_STUB_DATA_HR;
    }
    LONG nStatus = 0;
    // The request is passed by value: the member borrows it, the stub frees it.
    HRESULT hr =
        p->Transfer(request, nRequestLength, byHasResponse ? &response : nullptr, nResponseLength,
                    byHasExtra ? &extra : nullptr, byHasStatus ? &nStatus : nullptr);
    if (byHasResponse) {
        PutReturnedVariant(results, response, &hr);
    }
    if (byHasExtra) {
        PutReturnedVariant(results, extra, &hr);
    }
    if (byHasStatus) {
        results.PutI32(nStatus);
    }
    VariantClear(&request);
    VariantClear(&response);
    VariantClear(&extra);
    return hr;
}

HRESULT StubGetTcpServer(IModbusSerialPort* p, CRpcFrameReader& args, CRpcFrameWriter& results,
                         CRpcObjectExporter& exporter) {
    if (!args.IsDone()) {
        return RPC_X_BAD_STUB_DATA_HR;
    }
    IDispatch* pServer = nullptr;
    HRESULT hr = p->get_TcpServer(&pServer);
    exporter.PutInterface(results, pServer, IID_IDispatch);
    return hr;
}

class CModbusSerialPortHandler : public CRpcInterfaceHandler {
public:
    HRESULT CreateProxy(std::unique_ptr<CRpcRemoteObject> pRemote, void** ppv) override {
        *ppv = static_cast<IModbusSerialPort*>(new CModbusSerialPortProxy(std::move(pRemote)));
        return S_OK;
    }

    HRESULT Invoke(void* pItf, UINT nSlot, CRpcFrameReader& args, CRpcFrameWriter& results,
                   CRpcObjectExporter& exporter) override {
        auto* p = static_cast<IModbusSerialPort*>(pItf);
        switch (nSlot) {
            case SERIAL_SLOT_GET_PORT:
                return RpcStubGet<LONG>(args, results, [p](LONG* v) { return p->get_Port(v); });
            case SERIAL_SLOT_PUT_PORT:
                return RpcStubPut<SHORT>(args, [p](SHORT v) { return p->put_Port(v); });
            case SERIAL_SLOT_GET_BAUD_RATE:
                return RpcStubGet<LONG>(args, results, [p](LONG* v) { return p->get_BaudRate(v); });
            case SERIAL_SLOT_PUT_BAUD_RATE:
                return RpcStubPut<LONG>(args, [p](LONG v) { return p->put_BaudRate(v); });
            case SERIAL_SLOT_GET_PARITY:
                return RpcStubGet<SHORT>(args, results, [p](SHORT* v) { return p->get_Parity(v); });
            case SERIAL_SLOT_PUT_PARITY:
                return RpcStubPut<SHORT>(args, [p](SHORT v) { return p->put_Parity(v); });
            case SERIAL_SLOT_GET_FLOW_CONTROL:
                return RpcStubGet<LONG>(args, results,
                                        [p](LONG* v) { return p->get_FlowControl(v); });
            case SERIAL_SLOT_PUT_FLOW_CONTROL:
                return RpcStubPut<SHORT>(args, [p](SHORT v) { return p->put_FlowControl(v); });
            case SERIAL_SLOT_CONNECT:
                return RpcStubGet<SHORT>(args, results, [p](SHORT* v) { return p->Connect(v); });
            case SERIAL_SLOT_SELECT_PORT:
                return StubSelectPort(p, args, results);
            case SERIAL_SLOT_GET_ACTIVE:
                return RpcStubGet<SHORT>(args, results, [p](SHORT* v) { return p->get_Active(v); });
            case SERIAL_SLOT_TRANSFER:
                return StubTransfer(p, args, results);
            case SERIAL_SLOT_GET_TCP_SERVER:
                return StubGetTcpServer(p, args, results, exporter);
            case SERIAL_SLOT_GET_SILENT_INTERVAL:
                return RpcStubGet<LONG>(args, results,
                                        [p](LONG* v) { return p->get_SilentInterval(v); });
            case SERIAL_SLOT_PUT_SILENT_INTERVAL:
                return RpcStubPut<LONG>(args, [p](LONG v) { return p->put_SilentInterval(v); });
            case SERIAL_SLOT_GET_TIMEOUT:
                return RpcStubGet<LONG>(args, results, [p](LONG* v) { return p->get_Timeout(v); });
            case SERIAL_SLOT_PUT_TIMEOUT:
                return RpcStubPut<LONG>(args, [p](LONG v) { return p->put_Timeout(v); });
            case SERIAL_SLOT_GET_STOP_BITS:
                return RpcStubGet<SHORT>(args, results,
                                         [p](SHORT* v) { return p->get_StopBits(v); });
            case SERIAL_SLOT_PUT_STOP_BITS:
                return RpcStubPut<SHORT>(args, [p](SHORT v) { return p->put_StopBits(v); });
            case SERIAL_SLOT_GET_MODE:
                return RpcStubGet<SHORT>(args, results, [p](SHORT* v) { return p->get_Mode(v); });
            case SERIAL_SLOT_PUT_MODE:
                return RpcStubPut<SHORT>(args, [p](SHORT v) { return p->put_Mode(v); });
            case SERIAL_SLOT_GET_BYTE_SIZE:
                return RpcStubGet<SHORT>(args, results,
                                         [p](SHORT* v) { return p->get_ByteSize(v); });
            case SERIAL_SLOT_PUT_BYTE_SIZE:
                return RpcStubPut<SHORT>(args, [p](SHORT v) { return p->put_ByteSize(v); });
            case SERIAL_SLOT_GET_ERROR_DELAY:
                return RpcStubGet<LONG>(args, results,
                                        [p](LONG* v) { return p->get_ErrorDelay(v); });
            case SERIAL_SLOT_PUT_ERROR_DELAY:
                return RpcStubPut<LONG>(args, [p](LONG v) { return p->put_ErrorDelay(v); });
            default:
                // IDispatch's members and the reserved slots are not remoted.
                return nSlot < 51 ? E_NOTIMPL : RPC_S_PROCNUM_OUT_OF_RANGE_HR;
        }
    }
};

class CModbusTcpServerHandler : public CRpcInterfaceHandler {
public:
    HRESULT CreateProxy(std::unique_ptr<CRpcRemoteObject> pRemote, void** ppv) override {
        *ppv = static_cast<IModbusTcpServer*>(new CModbusTcpServerProxy(std::move(pRemote)));
        return S_OK;
    }

    HRESULT Invoke(void* pItf, UINT nSlot, CRpcFrameReader& args, CRpcFrameWriter& results,
                   CRpcObjectExporter&) override {
        auto* p = static_cast<IModbusTcpServer*>(pItf);
        switch (nSlot) {
            case TCP_SLOT_GET_ADDRESS:
                return RpcStubGetBstr(args, results, [p](BSTR* v) { return p->get_Address(v); });
            case TCP_SLOT_PUT_ADDRESS:
                return RpcStubPutBstr(args, [p](BSTR v) { return p->put_Address(v); });
            case TCP_SLOT_GET_PORT:
                return RpcStubGet<LONG>(args, results, [p](LONG* v) { return p->get_Port(v); });
            case TCP_SLOT_PUT_PORT:
                return RpcStubPut<SHORT>(args, [p](SHORT v) { return p->put_Port(v); });
            case TCP_SLOT_START:
                return RpcStubGet<SHORT>(args, results, [p](SHORT* v) { return p->Start(v); });
            case TCP_SLOT_STOP:
                return RpcStubGet<SHORT>(args, results, [p](SHORT* v) { return p->Stop(v); });
            case TCP_SLOT_GET_RUNNING:
                return RpcStubGet<SHORT>(args, results,
                                         [p](SHORT* v) { return p->get_Running(v); });
            default:
                return nSlot < 7 ? E_NOTIMPL : RPC_S_PROCNUM_OUT_OF_RANGE_HR;
        }
    }
};

CModbusSerialPortHandler g_serialPortHandler;
CModbusTcpServerHandler g_tcpServerHandler;
}  // namespace

HRESULT RegisterModbusSerialServerPs() {
    HRESULT hr = CoRegisterProxyStub(IID_IModbusSerialPort, &g_serialPortHandler);
    if (SUCCEEDED(hr)) {
        hr = CoRegisterProxyStub(IID_IModbusTcpServer, &g_tcpServerHandler);
    }
    return hr;
}
