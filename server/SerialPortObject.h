// A client's object of the serial server: IModbusSerialPort over one of the
// shared ports. A new object is bound to COM1 until SelectPort (or
// put_Port) binds it elsewhere. Setters refuse values out of range with
// E_INVALIDARG and keep the old value; reserved slots and IDispatch's own
// members answer E_NOTIMPL. Safe to call from any thread.
#pragma once

#include <memory>
#include <mutex>

#include "SerialPorts.h"
#include "ServerObject.h"
#include "serialapi/ModbusSerialServer.h"

class CSerialPortObject final
    : public CServerDispatchObject<IModbusSerialPort, IID_IModbusSerialPort> {
public:
    // With one reference, the caller's.
    explicit CSerialPortObject(std::shared_ptr<CSerialPorts> pPorts);
    CSerialPortObject(const CSerialPortObject&) = delete;
    CSerialPortObject& operator=(const CSerialPortObject&) = delete;

#define SERIAL_PORT_RESERVED(n)      \
    HRESULT Reserved##n() override { \
        return E_NOTIMPL;            \
    }
    SERIAL_PORT_RESERVED(7)
    SERIAL_PORT_RESERVED(18)
    SERIAL_PORT_RESERVED(19)
    SERIAL_PORT_RESERVED(20)
    SERIAL_PORT_RESERVED(21)
    SERIAL_PORT_RESERVED(22)
    SERIAL_PORT_RESERVED(23)
    SERIAL_PORT_RESERVED(24)
    SERIAL_PORT_RESERVED(25)
    SERIAL_PORT_RESERVED(26)
    SERIAL_PORT_RESERVED(27)
    SERIAL_PORT_RESERVED(28)
    SERIAL_PORT_RESERVED(29)
    SERIAL_PORT_RESERVED(31)
    SERIAL_PORT_RESERVED(32)
    SERIAL_PORT_RESERVED(33)
    SERIAL_PORT_RESERVED(34)
    SERIAL_PORT_RESERVED(37)
    SERIAL_PORT_RESERVED(48)
#undef SERIAL_PORT_RESERVED

    HRESULT get_Port(LONG* pVal) override;
    // Binds the object to port 1..8, like SelectPort.
    HRESULT put_Port(SHORT newVal) override;
    HRESULT get_BaudRate(LONG* pVal) override;
    HRESULT put_BaudRate(LONG newVal) override;
    HRESULT get_Parity(SHORT* pVal) override;
    HRESULT put_Parity(SHORT newVal) override;
    HRESULT get_FlowControl(LONG* pVal) override;
    HRESULT put_FlowControl(SHORT newVal) override;
    HRESULT Connect(VARIANT_BOOL* pResult) override;
    // "com1".."com8" in any case; *pResult 1 when bound, 0 for another name
    // (the binding stays). The second argument is not used.
    HRESULT SelectPort(BSTR name, LONG nOne, SHORT* pResult) override;
    HRESULT get_Active(VARIANT_BOOL* pVal) override;
    // A request that is no byte array, or whose length is out of 2..254 or
    // beyond the array, fails with E_INVALIDARG and status 8 (nothing was
    // sent). The response is always an array, empty on failure except for
    // an exception answer, which comes whole.
    HRESULT Transfer(VARIANT request, LONG nRequestLength, VARIANT* pResponse, LONG nResponseLength,
                     VARIANT* pExtra, LONG* pStatus) override;
    HRESULT get_TcpServer(IDispatch** ppVal) override;
    HRESULT get_SilentInterval(LONG* pVal) override;
    HRESULT put_SilentInterval(LONG newVal) override;
    HRESULT get_Timeout(LONG* pVal) override;
    HRESULT put_Timeout(LONG newVal) override;
    HRESULT get_StopBits(SHORT* pVal) override;
    HRESULT put_StopBits(SHORT newVal) override;
    HRESULT get_Mode(SHORT* pVal) override;
    HRESULT put_Mode(SHORT newVal) override;
    HRESULT get_ByteSize(SHORT* pVal) override;
    HRESULT put_ByteSize(SHORT newVal) override;
    HRESULT get_ErrorDelay(LONG* pVal) override;
    HRESULT put_ErrorDelay(LONG newVal) override;

private:
    ~CSerialPortObject() override;
    std::shared_ptr<CSerialPort> GetPort() const;
    // Reads one setting into *pVal.
    template <typename T, typename F>
    HRESULT GetSetting(T* pVal, F field) const;
    // Stores the value when valid.
    template <typename F>
    HRESULT PutSetting(LONG nValue, bool bValid, F field);

    const std::shared_ptr<CSerialPorts> m_pPorts;
    mutable std::mutex m_mutex;
    std::shared_ptr<CSerialPort> m_pPort;
};
