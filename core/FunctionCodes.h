// Modbus function codes, named once for every place that builds or checks a
// request or an answer.
#pragma once

#include "platform/WinTypes.h"

namespace ModbusFunction {
constexpr BYTE READ_COILS = 1;
constexpr BYTE READ_DISCRETE_INPUTS = 2;
constexpr BYTE READ_HOLDING_REGISTERS = 3;
constexpr BYTE READ_INPUT_REGISTERS = 4;
constexpr BYTE WRITE_SINGLE_COIL = 5;
constexpr BYTE WRITE_SINGLE_REGISTER = 6;
constexpr BYTE READ_EXCEPTION_STATUS = 7;
constexpr BYTE DIAGNOSTICS = 8;
constexpr BYTE GET_COMM_EVENT_COUNTER = 11;
constexpr BYTE GET_COMM_EVENT_LOG = 12;
constexpr BYTE WRITE_MULTIPLE_COILS = 15;
constexpr BYTE WRITE_MULTIPLE_REGISTERS = 16;
constexpr BYTE REPORT_SERVER_ID = 17;
constexpr BYTE READ_FILE_RECORD = 20;
constexpr BYTE WRITE_FILE_RECORD = 21;
constexpr BYTE MASK_WRITE_REGISTER = 22;
constexpr BYTE READ_WRITE_MULTIPLE_REGISTERS = 23;

// Set in the function byte of an exception answer.
constexpr BYTE EXCEPTION_FLAG = 0x80;
}  // namespace ModbusFunction

// The codes an exception answer carries after its function byte.
namespace ModbusExceptionCode {
constexpr BYTE ILLEGAL_FUNCTION = 1;
constexpr BYTE ILLEGAL_DATA_ADDRESS = 2;
constexpr BYTE ILLEGAL_DATA_VALUE = 3;
constexpr BYTE SERVER_DEVICE_FAILURE = 4;
constexpr BYTE ACKNOWLEDGE = 5;
constexpr BYTE SERVER_DEVICE_BUSY = 6;
constexpr BYTE MEMORY_PARITY_ERROR = 8;
constexpr BYTE GATEWAY_PATH_UNAVAILABLE = 0x0A;
constexpr BYTE GATEWAY_TARGET_FAILED = 0x0B;
}  // namespace ModbusExceptionCode

namespace ModbusGateway {
// A Modbus/TCP client of a gateway that sends no request for this long is
// disconnected, unless the server is told otherwise.
constexpr int DEFAULT_IDLE_SECONDS = 60;
}  // namespace ModbusGateway
