// The external serial-port automation server: its class, its two interfaces
// with every member at its vtable position, and the unlisted positions kept
// as reserved slots (they answer E_NOTIMPL).
#pragma once

#include "platform/com/OleAuto.h"

extern const CLSID CLSID_ModbusSerialServer;
// The program that serves the class on this machine, beside ours.
constexpr const char* MODBUS_SERIAL_SERVER_PROGRAM = "modbus-serial-server";
extern const IID IID_IModbusSerialPort;
extern const IID IID_IModbusTcpServer;

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// Status codes of Transfer: 0x80040200 plus the master's status.
// The interface's own codes start at 0x200 within FACILITY_ITF.
constexpr LONG MODBUS_SERVER_STATUS_BASE = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x200);

struct IModbusSerialPort : IDispatch {
    virtual HRESULT Reserved7() = 0;                     // 7
    virtual HRESULT get_Port(LONG* pVal) = 0;            // 8: 1..8
    virtual HRESULT put_Port(SHORT newVal) = 0;          // 9
    virtual HRESULT get_BaudRate(LONG* pVal) = 0;        // 10
    virtual HRESULT put_BaudRate(LONG newVal) = 0;       // 11
    virtual HRESULT get_Parity(SHORT* pVal) = 0;         // 12: 0 none, 1 odd, 2 even, 3 mark
    virtual HRESULT put_Parity(SHORT newVal) = 0;        // 13
    virtual HRESULT get_FlowControl(LONG* pVal) = 0;     // 14: bit 0 DTR/DSR, 1 RTS/CTS, 2 XON/XOFF
    virtual HRESULT put_FlowControl(SHORT newVal) = 0;   // 15
    virtual HRESULT Connect(VARIANT_BOOL* pResult) = 0;  // 16
    virtual HRESULT SelectPort(BSTR name, LONG nOne, SHORT* pResult) = 0;  // 17: "com1".."com8"
    virtual HRESULT Reserved18() = 0;
    virtual HRESULT Reserved19() = 0;
    virtual HRESULT Reserved20() = 0;
    virtual HRESULT Reserved21() = 0;
    virtual HRESULT Reserved22() = 0;
    virtual HRESULT Reserved23() = 0;
    virtual HRESULT Reserved24() = 0;
    virtual HRESULT Reserved25() = 0;
    virtual HRESULT Reserved26() = 0;
    virtual HRESULT Reserved27() = 0;
    virtual HRESULT Reserved28() = 0;
    virtual HRESULT Reserved29() = 0;
    virtual HRESULT get_Active(VARIANT_BOOL* pVal) = 0;  // 30
    virtual HRESULT Reserved31() = 0;
    virtual HRESULT Reserved32() = 0;
    virtual HRESULT Reserved33() = 0;
    virtual HRESULT Reserved34() = 0;
    // 35: request = 1-D VT_UI1 array (device, function, data; no checksum).
    // On success *pStatus is 0 and *pResponse the answer from the device
    // address on, without checksum; otherwise *pStatus is 0x80040200 + status.
    virtual HRESULT Transfer(VARIANT request, LONG nRequestLength, VARIANT* pResponse,
                             LONG nResponseLength, VARIANT* pExtra, LONG* pStatus) = 0;
    virtual HRESULT get_TcpServer(IDispatch** ppVal) = 0;  // 36
    virtual HRESULT Reserved37() = 0;                      // 37
    virtual HRESULT get_SilentInterval(LONG* pVal) = 0;    // 38: ms
    virtual HRESULT put_SilentInterval(LONG newVal) = 0;   // 39
    virtual HRESULT get_Timeout(LONG* pVal) = 0;           // 40: ms
    virtual HRESULT put_Timeout(LONG newVal) = 0;          // 41
    virtual HRESULT get_StopBits(SHORT* pVal) = 0;         // 42: 0 one, 1 one and a half, 2 two
    virtual HRESULT put_StopBits(SHORT newVal) = 0;        // 43
    virtual HRESULT get_Mode(SHORT* pVal) = 0;             // 44: 0 RTU, 1 ASCII
    virtual HRESULT put_Mode(SHORT newVal) = 0;            // 45
    virtual HRESULT get_ByteSize(SHORT* pVal) = 0;         // 46: 7 or 8
    virtual HRESULT put_ByteSize(SHORT newVal) = 0;        // 47
    virtual HRESULT Reserved48() = 0;                      // 48
    virtual HRESULT get_ErrorDelay(LONG* pVal) = 0;        // 49: ms
    virtual HRESULT put_ErrorDelay(LONG newVal) = 0;       // 50
};

struct IModbusTcpServer : IDispatch {
    virtual HRESULT get_Address(BSTR* pVal) = 0;          // 7: dotted IPv4
    virtual HRESULT put_Address(BSTR newVal) = 0;         // 8
    virtual HRESULT get_Port(LONG* pVal) = 0;             // 9
    virtual HRESULT put_Port(SHORT newVal) = 0;           // 10
    virtual HRESULT Start(VARIANT_BOOL* pResult) = 0;     // 11: nonzero = running
    virtual HRESULT Stop(VARIANT_BOOL* pResult) = 0;      // 12: nonzero = stopped
    virtual HRESULT get_Running(VARIANT_BOOL* pVal) = 0;  // 13
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
