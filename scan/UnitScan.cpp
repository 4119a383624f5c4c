#include "UnitScan.h"

#include <chrono>

#include "core/FunctionCodes.h"
#include "core/Modbus.h"
#include "testview/RowFormat.h"
#include "transport/RemoteModbus.h"

CString ResultText(const CUnitAnswer& answer) {
    switch (answer.result) {
        case CUnitAnswer::EResult::DATA:
            return "data";
        case CUnitAnswer::EResult::EXCEPTION:
            return "exception " + std::to_string(answer.byException);
        case CUnitAnswer::EResult::SILENT:
            return "silent";
        case CUnitAnswer::EResult::ERROR:
            break;
    }
    return "error";
}

CUnitAnswer::EResult Classify(WORD wStatus, BOOL bTimedOut) {
    if (wStatus == MODBUS_OK) {
        return CUnitAnswer::EResult::DATA;
    }
    if (IsExceptionStatus(wStatus)) {
        const BYTE byCode = static_cast<BYTE>(wStatus - MODBUS_EXCEPTION_BASE);
        // A gateway answers for a device that did not: the unit is not there.
        return byCode == ModbusExceptionCode::GATEWAY_PATH_UNAVAILABLE ||
                       byCode == ModbusExceptionCode::GATEWAY_TARGET_FAILED
                   ? CUnitAnswer::EResult::SILENT
                   : CUnitAnswer::EResult::EXCEPTION;
    }
    return wStatus == MODBUS_TIMEOUT || bTimedOut ? CUnitAnswer::EResult::SILENT
                                                  : CUnitAnswer::EResult::ERROR;
}

WORD ReadTable(CModbus& modbus, int nReadFunction, BYTE byUnit, WORD wAddress, WORD wCount) {
    CWordArray registers;
    CByteArray bits;
    switch (nReadFunction) {
        case READ_INPUT_REGISTERS:
            return modbus.ReadInputRegisters(byUnit, wAddress, wCount, registers);
        case READ_OUTPUT_STATUS:
            return modbus.ReadOutputStatus(byUnit, wAddress, wCount, bits);
        case READ_INPUT_STATUS:
            return modbus.ReadInputStatus(byUnit, wAddress, wCount, bits);
        default:
            return modbus.ReadOutputRegisters(byUnit, wAddress, wCount, registers);
    }
}

std::vector<CUnitAnswer> ScanUnits(CModbus& modbus, const CUnitScanRequest& request,
                                   const std::function<bool()>& pfnBefore,
                                   const std::function<bool(const CUnitAnswer&)>& pfnAnswered) {
    std::vector<CUnitAnswer> answers;
    for (int nUnit = request.byFirst; nUnit <= request.byLast; ++nUnit) {
        if (pfnBefore && !pfnBefore()) {
            break;
        }
        CUnitAnswer answer;
        answer.byUnit = static_cast<BYTE>(nUnit);
        const auto t0 = std::chrono::steady_clock::now();
        answer.wStatus = ReadTable(modbus, request.nReadFunction, answer.byUnit, request.wAddress,
                                   request.wQuantity);
        answer.dMillis =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        answer.result = Classify(answer.wStatus, modbus.LastExchangeTimedOut());
        if (answer.result == CUnitAnswer::EResult::EXCEPTION) {
            answer.byException = static_cast<BYTE>(answer.wStatus - MODBUS_EXCEPTION_BASE);
        }
        if (answer.result != CUnitAnswer::EResult::DATA) {
            answer.strStatus = modbus.GetErrorText(answer.wStatus);
        }
        answers.push_back(answer);
        if (pfnAnswered && !pfnAnswered(answers.back())) {
            break;
        }
    }
    return answers;
}

bool KeepConnected(CModbus& modbus, CString* pstrCause) {
    auto* pTcp = dynamic_cast<CRemoteModbus*>(&modbus);
    if (pTcp == nullptr || pTcp->GetReconnect() || pTcp->IsConnected() ||
        pTcp->Connect(CString(), 0, 0)) {
        return true;
    }
    *pstrCause = pTcp->GetLastCause();
    return false;
}
