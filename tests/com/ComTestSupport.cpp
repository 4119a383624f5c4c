#include "tests/com/ComTestSupport.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/FakeSerialPort.h"

VARIANT MakeArray(VARTYPE vtElement, LONG lLbound, const std::vector<LONG>& values) {
    VARIANT var;
    var.vt = VT_ARRAY | vtElement;
    var.parray = SafeArrayCreateVector(vtElement, lLbound, static_cast<ULONG>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        void* pv = var.parray->pvData;
        if (vtElement == VT_UI1) {
            static_cast<BYTE*>(pv)[i] = static_cast<BYTE>(values[i]);
        } else if (vtElement == VT_I2) {
            static_cast<SHORT*>(pv)[i] = static_cast<SHORT>(values[i]);
        } else {
            static_cast<LONG*>(pv)[i] = values[i];
        }
    }
    return var;
}

CComPtr<IModbusTcpServer> TcpServerOf(IModbusSerialPort* pPort, IDispatch** ppDispatch) {
    CComPtr<IDispatch> pDispatch;
    CComPtr<IModbusTcpServer> pTcp;
    if (SUCCEEDED(pPort->get_TcpServer(&pDispatch)) && pDispatch != nullptr) {
        pDispatch->QueryInterface(IID_IModbusTcpServer, reinterpret_cast<void**>(&pTcp));
    }
    if (ppDispatch != nullptr) {
        *ppDispatch = pDispatch.Detach();
    }
    return pTcp;
}

std::vector<LONG> ArrayValues(const VARIANT& var) {
    std::vector<LONG> values;
    for (ULONG i = 0;
         (var.vt & VT_ARRAY) && var.parray != nullptr && i < var.parray->rgsabound[0].cElements;
         ++i) {
        void* pv = var.parray->pvData;
        VARTYPE vt = var.vt & VT_TYPEMASK;
        values.push_back(vt == VT_UI1  ? static_cast<BYTE*>(pv)[i]
                         : vt == VT_I2 ? static_cast<SHORT*>(pv)[i]
                                       : static_cast<LONG*>(pv)[i]);
    }
    return values;
}

HRESULT TransferBytes(IModbusSerialPort* pPort, const std::vector<LONG>& bytes,
                      LONG nResponseLength, std::vector<LONG>* pAnswer, LONG* pnStatus) {
    VARIANT request = MakeArray(VT_UI1, 0, bytes);
    VARIANT response;
    VariantInit(&response);
    LONG nStatus = 0;
    HRESULT hr = pPort->Transfer(request, static_cast<LONG>(bytes.size()), &response,
                                 nResponseLength, nullptr, &nStatus);
    if (pAnswer != nullptr) {
        *pAnswer = ArrayValues(response);
    }
    if (pnStatus != nullptr) {
        *pnStatus = nStatus;
    }
    VariantClear(&request);
    VariantClear(&response);
    return hr;
}

LONG RunFakeCommand(IModbusSerialPort* pPort, BYTE byCode) {
    std::vector<LONG> b;
    if (FAILED(TransferBytes(pPort, {FAKE_COMMAND, byCode, 0, 0}, 4, &b)) || b.size() != 4) {
        return -1;
    }
    return b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24;
}
