// The data of a simulated Modbus slave and the processing of one request PDU
// against it. Independent of the framing, so that TCP and serial servers can
// share it; every member locks, since several connections use one device.
#pragma once

#include <bitset>
#include <mutex>

#include "platform/WinTypes.h"

class CSimDevice {
public:
    enum class Table { Coils, DiscreteInputs, HoldingRegisters, InputRegisters };

    static constexpr size_t DEFAULT_SIZE = 10000;
    // Addresses are 16 bits wide: no table needs more entries.
    static constexpr size_t MAX_SIZE = 65536;

    // Function limits: the most a single request may ask for.
    static constexpr WORD MAX_READ_BITS = 2000;
    static constexpr WORD MAX_READ_REGISTERS = 125;
    static constexpr WORD MAX_WRITE_BITS = 1968;
    static constexpr WORD MAX_WRITE_REGISTERS = 123;

    CSimDevice();
    CSimDevice(const CSimDevice&) = delete;
    CSimDevice& operator=(const CSimDevice&) = delete;

    // Handles one request PDU (function code first) addressed to unit. Returns
    // FALSE when the unit does not answer; otherwise answerPdu holds the answer,
    // which is an exception answer for a request the device refuses.
    BOOL ProcessPdu(BYTE unit, const BYTE* pdu, size_t n, CByteArray& answerPdu);

    // Every unit id answers by default.
    void SetAllUnits(BOOL bAnswer);
    void SetUnit(BYTE unit, BOOL bAnswer);
    BOOL IsUnitAnswering(BYTE unit) const;

    // Resizes the table (at most MAX_SIZE); every entry takes wFill, a bit
    // table's entries the state wFill != 0.
    BOOL Resize(Table table, size_t nSize, WORD wFill = 0);
    size_t GetSize(Table table) const;

    // Accessors fail (FALSE, or 0 when reading) outside the table. A bit table
    // takes any non-zero value as ON.
    BOOL SetValue(Table table, size_t nAddress, WORD wValue);
    WORD GetValue(Table table, size_t nAddress) const;
    BOOL SetValues(Table table, size_t nAddress, const CWordArray& values);

    // 32 and 64-bit values over consecutive registers. bReverse FALSE keeps the
    // least significant 16 bits in the first register; TRUE the most significant.
    BOOL SetFloat(Table table, size_t nAddress, float fValue, BOOL bReverse);
    BOOL SetDouble(Table table, size_t nAddress, double dValue, BOOL bReverse);
    float GetFloat(Table table, size_t nAddress, BOOL bReverse) const;
    double GetDouble(Table table, size_t nAddress, BOOL bReverse) const;

    void SetHoldingRegister(size_t nAddress, WORD wValue) {
        SetValue(Table::HoldingRegisters, nAddress, wValue);
    }
    WORD GetHoldingRegister(size_t nAddress) const {
        return GetValue(Table::HoldingRegisters, nAddress);
    }
    void SetInputRegister(size_t nAddress, WORD wValue) {
        SetValue(Table::InputRegisters, nAddress, wValue);
    }
    void SetCoil(size_t nAddress, BOOL bOn) { SetValue(Table::Coils, nAddress, bOn ? 1 : 0); }
    BOOL GetCoil(size_t nAddress) const { return GetValue(Table::Coils, nAddress) != 0; }
    void SetDiscreteInput(size_t nAddress, BOOL bOn) {
        SetValue(Table::DiscreteInputs, nAddress, bOn ? 1 : 0);
    }

private:
    // Bits are kept one per entry: simple to address, small enough at 64 K.
    CWordArray& Data(Table table) { return m_tables[static_cast<size_t>(table)]; }
    const CWordArray& Data(Table table) const { return m_tables[static_cast<size_t>(table)]; }
    static bool IsBitTable(Table table) {
        return table == Table::Coils || table == Table::DiscreteInputs;
    }
    BOOL SetWide(Table table, size_t nAddress, ULONGLONG v, size_t nParts, BOOL bReverse);
    ULONGLONG GetWide(Table table, size_t nAddress, size_t nParts, BOOL bReverse) const;

    // The functions, called with m_mutex held; each returns an exception code
    // or 0 with the answer in answerPdu.
    BYTE ReadBits(Table table, const BYTE* pdu, size_t n, CByteArray& answerPdu) const;
    BYTE ReadRegisters(Table table, const BYTE* pdu, size_t n, CByteArray& answerPdu) const;
    BYTE WriteSingleCoil(const BYTE* pdu, size_t n, CByteArray& answerPdu);
    BYTE WriteSingleRegister(const BYTE* pdu, size_t n, CByteArray& answerPdu);
    BYTE Diagnostics(const BYTE* pdu, size_t n, CByteArray& answerPdu) const;
    BYTE WriteMultipleCoils(const BYTE* pdu, size_t n, CByteArray& answerPdu);
    BYTE WriteMultipleRegisters(const BYTE* pdu, size_t n, CByteArray& answerPdu);
    BYTE MaskWriteRegister(const BYTE* pdu, size_t n, CByteArray& answerPdu);
    BYTE ReadWriteMultipleRegisters(const BYTE* pdu, size_t n, CByteArray& answerPdu);

    mutable std::mutex m_mutex;
    CWordArray m_tables[4];
    std::bitset<256> m_units;
};
