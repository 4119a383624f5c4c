#include "FrameLength.h"

#include "core/FunctionCodes.h"

long CFrameLength::Answer(BYTE byRequestFunction, size_t nRequestPdu, const BYTE* pdu, size_t n) {
    if (n == 0) {
        return NEED_MORE;
    }
    const BYTE byFunction = pdu[0];
    if (byFunction & ModbusFunction::EXCEPTION_FLAG) {
        return 2;  // function with the flag, exception code
    }
    switch (byFunction) {
        case ModbusFunction::READ_COILS:
        case ModbusFunction::READ_DISCRETE_INPUTS:
        case ModbusFunction::READ_HOLDING_REGISTERS:
        case ModbusFunction::READ_INPUT_REGISTERS:
        case ModbusFunction::GET_COMM_EVENT_LOG:
        case ModbusFunction::REPORT_SERVER_ID:
        case ModbusFunction::READ_FILE_RECORD:
        case ModbusFunction::WRITE_FILE_RECORD:
        case ModbusFunction::READ_WRITE_MULTIPLE_REGISTERS:
            // Function, byte count, data.
            return n < 2 ? NEED_MORE : 2 + long(pdu[1]);
        case ModbusFunction::WRITE_SINGLE_COIL:
        case ModbusFunction::WRITE_SINGLE_REGISTER:
        case ModbusFunction::GET_COMM_EVENT_COUNTER:
        case ModbusFunction::WRITE_MULTIPLE_COILS:
        case ModbusFunction::WRITE_MULTIPLE_REGISTERS:
            return 5;
        case ModbusFunction::READ_EXCEPTION_STATUS:
            return 2;
        case ModbusFunction::MASK_WRITE_REGISTER:
            return 7;
        case ModbusFunction::DIAGNOSTICS:
            // An echo of the request, whatever its length.
            return byRequestFunction == ModbusFunction::DIAGNOSTICS ? long(nRequestPdu) : UNKNOWN;
        default:
            return UNKNOWN;
    }
}

long CFrameLength::Request(const BYTE* pdu, size_t n) {
    if (n == 0) {
        return NEED_MORE;
    }
    switch (pdu[0]) {
        case ModbusFunction::READ_COILS:
        case ModbusFunction::READ_DISCRETE_INPUTS:
        case ModbusFunction::READ_HOLDING_REGISTERS:
        case ModbusFunction::READ_INPUT_REGISTERS:
        case ModbusFunction::WRITE_SINGLE_COIL:
        case ModbusFunction::WRITE_SINGLE_REGISTER:
            return 5;
        case ModbusFunction::READ_EXCEPTION_STATUS:
        case ModbusFunction::GET_COMM_EVENT_COUNTER:
        case ModbusFunction::GET_COMM_EVENT_LOG:
        case ModbusFunction::REPORT_SERVER_ID:
            return 1;
        case ModbusFunction::MASK_WRITE_REGISTER:
            return 7;
        case ModbusFunction::WRITE_MULTIPLE_COILS:
        case ModbusFunction::WRITE_MULTIPLE_REGISTERS:
            // Function, address, quantity, byte count, data.
            return n < 6 ? NEED_MORE : 6 + long(pdu[5]);
        case ModbusFunction::READ_WRITE_MULTIPLE_REGISTERS:
            return n < 10 ? NEED_MORE : 10 + long(pdu[9]);
        default:
            // Diagnostics carry data of any length.
            return UNKNOWN;
    }
}
