// Proxies and stubs of the serial-port server's interfaces, so that its
// objects can be used from another process through the remoting layer.
#pragma once

#include "ModbusSerialServer.h"

// Makes IModbusSerialPort and IModbusTcpServer known to the remoting layer.
// Clients and the server program call it once before activating or serving
// the class; calling it again does no harm.
HRESULT RegisterModbusSerialServerPs();

// The vtable positions the proxies send and the stubs dispatch on.
enum MODBUS_SERIAL_PORT_SLOT : UINT {
    SERIAL_SLOT_GET_PORT = 8,
    SERIAL_SLOT_PUT_PORT = 9,
    SERIAL_SLOT_GET_BAUD_RATE = 10,
    SERIAL_SLOT_PUT_BAUD_RATE = 11,
    SERIAL_SLOT_GET_PARITY = 12,
    SERIAL_SLOT_PUT_PARITY = 13,
    SERIAL_SLOT_GET_FLOW_CONTROL = 14,
    SERIAL_SLOT_PUT_FLOW_CONTROL = 15,
    SERIAL_SLOT_CONNECT = 16,
    SERIAL_SLOT_SELECT_PORT = 17,
    SERIAL_SLOT_GET_ACTIVE = 30,
    SERIAL_SLOT_TRANSFER = 35,
    SERIAL_SLOT_GET_TCP_SERVER = 36,
    SERIAL_SLOT_GET_SILENT_INTERVAL = 38,
    SERIAL_SLOT_PUT_SILENT_INTERVAL = 39,
    SERIAL_SLOT_GET_TIMEOUT = 40,
    SERIAL_SLOT_PUT_TIMEOUT = 41,
    SERIAL_SLOT_GET_STOP_BITS = 42,
    SERIAL_SLOT_PUT_STOP_BITS = 43,
    SERIAL_SLOT_GET_MODE = 44,
    SERIAL_SLOT_PUT_MODE = 45,
    SERIAL_SLOT_GET_BYTE_SIZE = 46,
    SERIAL_SLOT_PUT_BYTE_SIZE = 47,
    SERIAL_SLOT_GET_ERROR_DELAY = 49,
    SERIAL_SLOT_PUT_ERROR_DELAY = 50,
};

enum MODBUS_TCP_SERVER_SLOT : UINT {
    TCP_SLOT_GET_ADDRESS = 7,
    TCP_SLOT_PUT_ADDRESS = 8,
    TCP_SLOT_GET_PORT = 9,
    TCP_SLOT_PUT_PORT = 10,
    TCP_SLOT_START = 11,
    TCP_SLOT_STOP = 12,
    TCP_SLOT_GET_RUNNING = 13,
};
