// The abstract Modbus master: one operation per supported function, the
// response checks, the retry loop and the unpacking of bits, registers and
// 32/64-bit values. A transport supplies Transact and IsConnected.
#pragma once

#include "PerfTimer.h"
#include "platform/Object.h"
#include "platform/SyncObjects.h"

// Statuses of the master itself; transports add their own ranges.
enum : WORD {
    MODBUS_OK = 0,
    MODBUS_TIMEOUT = 1,
    MODBUS_INVALID_RESPONSE = 2,
    MODBUS_CRC_ERROR = 3,
    MODBUS_WRITE_ERROR = 8,
    MODBUS_READ_ERROR = 9,
    MODBUS_PORT_NOT_OPENED = 10,
    MODBUS_LOCK_TIMEOUT = 11,
    MODBUS_EXCEPTION_BASE = 0x8000,
};

// Whether a status stands for an exception answer, its code the low byte.
inline bool IsExceptionStatus(WORD wStatus) {
    return wStatus >= MODBUS_EXCEPTION_BASE && wStatus <= MODBUS_EXCEPTION_BASE + 0xFF;
}

class CModbus : public CObject {
    DECLARE_DYNAMIC(CModbus)

public:
    CModbus();
    ~CModbus() override;

    // How a loaded record's master is set up: connected (its server created
    // and its TCP server started) from the values read, or given the values
    // only, for a record that is read past.
    enum class ELoad { CONNECT, VALUES_ONLY };

    // Storing: WriteSettings, then whatever a stored master does besides
    // (a host master connects again); loading is Load with ELoad::CONNECT.
    void Serialize(CArchive& ar) override;
    // Exactly the bytes storing writes, and nothing else: no master
    // connects or reconnects. A master behind a server asks it for the
    // line's settings, as storing does.
    virtual void WriteSettings(CArchive& ar);
    virtual void Load(CArchive& ar, ELoad mode);

    // Sends one request frame (device, function, data) and delivers the answer
    // frame in response. Returns 0 when an answer other than an exception
    // answer arrived; response then holds exactly the bytes that arrived,
    // starting with the device address. Lengths are byte counts; they are wider
    // than the frame fields so that oversized requests reach the transport's
    // own limit check intact.
    virtual WORD Transact(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                          DWORD dwResponseLength, BOOL bFlag) = 0;
    virtual CString GetErrorText(WORD wStatus);
    virtual BOOL IsConnected() = 0;
    // Whether this thread's last exchange with this master ended because its
    // time-out ran out, for transports whose status does not say so.
    virtual BOOL LastExchangeTimedOut() { return FALSE; }

    WORD ReadOutputStatus(WORD nDevice, WORD wAddress, WORD wCount, CByteArray& states);
    WORD ReadInputStatus(WORD nDevice, WORD wAddress, WORD wCount, CByteArray& states);
    WORD ReadOutputRegisters(WORD nDevice, WORD wAddress, WORD wCount, CWordArray& values);
    WORD ReadOutputRegistersFloat(WORD nDevice, WORD wAddress, WORD wCount, CFloatArray& values,
                                  BOOL bReverse);
    WORD ReadOutputRegistersDouble(WORD nDevice, WORD wAddress, WORD wCount, CDoubleArray& values,
                                   BOOL bReverse);
    WORD ReadInputRegisters(WORD nDevice, WORD wAddress, WORD wCount, CWordArray& values);
    WORD ReadInputRegistersFloat(WORD nDevice, WORD wAddress, WORD wCount, CFloatArray& values,
                                 BOOL bReverse);
    WORD ReadInputRegistersDouble(WORD nDevice, WORD wAddress, WORD wCount, CDoubleArray& values,
                                  BOOL bReverse);
    WORD ForceSingleCoil(WORD nDevice, WORD wAddress, WORD wState);
    WORD PresetSingleRegister(WORD nDevice, WORD wAddress, WORD wValue);
    WORD LoopbackTest(WORD nDevice);
    WORD PresetMultipleRegisters(WORD nDevice, WORD wAddress, WORD wCount,
                                 const CWordArray& values);
    WORD PresetRegisterFloat(WORD nDevice, WORD wAddress, float fValue, BOOL bReverse);
    WORD PresetRegisterDouble(WORD nDevice, WORD wAddress, double dValue, BOOL bReverse);

    // In throwing mode, raises a CModbusException pointer for a non-zero status.
    void ThrowIfError(WORD wStatus);

    CPerfTimer m_timer;
    CCriticalSection m_lock;
    WORD m_nTries = 1;
    DWORD m_dwLockTimeout = 1000;
    DWORD m_dwReserved = 0;
    BOOL m_bThrowOnError = FALSE;

private:
    enum class Check { DeviceAndFunction, EchoSixBytes };

    // The common exchange loop: sends request until it passes the check or the
    // tries are used up. response holds the last answer.
    WORD Exchange(CByteArray& request, DWORD dwResponseLength, Check check, CByteArray& response);
    WORD ReadBits(BYTE byFunction, WORD nDevice, WORD wAddress, WORD wCount, CByteArray& states);
    WORD ReadRegisters(BYTE byFunction, WORD nDevice, WORD wAddress, DWORD dwCount,
                       CWordArray& values);
    WORD WriteSingle(BYTE byFunction, WORD nDevice, WORD wAddress, WORD wValue);
    // Floats or doubles, each from 2 or 4 registers.
    template <typename T, typename Bits>
    WORD ReadReals(BYTE byFunction, WORD nDevice, WORD wAddress, WORD wCount,
                   std::vector<T>& values, BOOL bReverse);
};
