#include "RawRequest.h"

#include <algorithm>
#include <chrono>

#include "core/FrameDecode.h"
#include "core/FunctionCodes.h"
#include "core/Modbus.h"
#include "platform/Text.h"

namespace {
// Room for the answer: the longest Modbus answer fits.
constexpr DWORD kAnswerRoom = 256;
}  // namespace

bool ParseRawHex(const CString& strText, CByteArray& bytes) {
    CString strDigits;
    for (char ch : strText) {
        if (ch != ' ' && ch != ':' && ch != '-') {
            strDigits += ch;
        }
    }
    return ParseHexBytes(strDigits, bytes);
}

CRawExchange SendRawRequest(CModbus& modbus, BYTE byUnit, const CByteArray& pdu) {
    CRawExchange exchange;
    exchange.request.assign(1, byUnit);
    exchange.request.insert(exchange.request.end(), pdu.begin(), pdu.end());
    if (pdu.empty() || pdu.size() > MAX_RAW_PDU) {
        exchange.strStatus = pdu.empty() ? "no function code given"
                                         : "request of " + std::to_string(pdu.size()) +
                                               " PDU bytes not sent: at most " +
                                               std::to_string(MAX_RAW_PDU) + " fit a frame";
        return exchange;
    }
    const auto t0 = std::chrono::steady_clock::now();
    const WORD wStatus = modbus.Transact(exchange.request, DWORD(exchange.request.size()),
                                         exchange.answer, kAnswerRoom, FALSE);
    exchange.dMillis =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (IsExceptionStatus(wStatus)) {
        exchange.answer = {byUnit, BYTE(pdu[0] | ModbusFunction::EXCEPTION_FLAG),
                           BYTE(wStatus - MODBUS_EXCEPTION_BASE)};
    } else if (wStatus != MODBUS_OK) {
        exchange.answer.clear();
    }
    exchange.strStatus = FrameDecode::NameExceptionStatus(modbus.GetErrorText(wStatus), wStatus);
    exchange.bOk = wStatus == MODBUS_OK;
    return exchange;
}
