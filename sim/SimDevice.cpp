#include "SimDevice.h"

#include <cstring>

#include "core/FunctionCodes.h"

using ModbusExceptionCode::ILLEGAL_DATA_ADDRESS;
using ModbusExceptionCode::ILLEGAL_DATA_VALUE;
using ModbusExceptionCode::ILLEGAL_FUNCTION;

namespace {
WORD WordAt(const BYTE* p) {
    return static_cast<WORD>((p[0] << 8) | p[1]);
}

void PutWord(CByteArray& out, WORD w) {
    out.push_back(HIBYTE(w));
    out.push_back(LOBYTE(w));
}

// A request field that leaves the table: the start plus the quantity is
// computed wide so that it cannot wrap at 64 K.
bool OutOfTable(size_t nStart, size_t nCount, size_t nSize) {
    return nStart + nCount > nSize;
}
}  // namespace

CSimDevice::CSimDevice() {
    for (auto& table : m_tables) {
        table.assign(DEFAULT_SIZE, 0);
    }
    m_units.set();
}

BOOL CSimDevice::ProcessPdu(BYTE unit, const BYTE* pdu, size_t n, CByteArray& answerPdu) {
    std::lock_guard<std::mutex> guard(m_mutex);
    answerPdu.clear();
    if (!m_units.test(unit) || n == 0) {
        return FALSE;
    }
    const BYTE byFunction = pdu[0];
    BYTE code;
    switch (byFunction) {
        case ModbusFunction::READ_COILS:
            code = ReadBits(Table::Coils, pdu, n, answerPdu);
            break;
        case ModbusFunction::READ_DISCRETE_INPUTS:
            code = ReadBits(Table::DiscreteInputs, pdu, n, answerPdu);
            break;
        case ModbusFunction::READ_HOLDING_REGISTERS:
            code = ReadRegisters(Table::HoldingRegisters, pdu, n, answerPdu);
            break;
        case ModbusFunction::READ_INPUT_REGISTERS:
            code = ReadRegisters(Table::InputRegisters, pdu, n, answerPdu);
            break;
        case ModbusFunction::WRITE_SINGLE_COIL:
            code = WriteSingleCoil(pdu, n, answerPdu);
            break;
        case ModbusFunction::WRITE_SINGLE_REGISTER:
            code = WriteSingleRegister(pdu, n, answerPdu);
            break;
        case ModbusFunction::DIAGNOSTICS:
            code = Diagnostics(pdu, n, answerPdu);
            break;
        case ModbusFunction::WRITE_MULTIPLE_COILS:
            code = WriteMultipleCoils(pdu, n, answerPdu);
            break;
        case ModbusFunction::WRITE_MULTIPLE_REGISTERS:
            code = WriteMultipleRegisters(pdu, n, answerPdu);
            break;
        case ModbusFunction::MASK_WRITE_REGISTER:
            code = MaskWriteRegister(pdu, n, answerPdu);
            break;
        case ModbusFunction::READ_WRITE_MULTIPLE_REGISTERS:
            code = ReadWriteMultipleRegisters(pdu, n, answerPdu);
            break;
        default:
            code = ILLEGAL_FUNCTION;
            break;
    }
    if (code != 0) {
        answerPdu.assign({static_cast<BYTE>(byFunction | ModbusFunction::EXCEPTION_FLAG), code});
    }
    return TRUE;
}

BYTE CSimDevice::ReadBits(Table table, const BYTE* pdu, size_t n, CByteArray& answerPdu) const {
    if (n != 5) {
        return ILLEGAL_DATA_VALUE;
    }
    const WORD wStart = WordAt(pdu + 1);
    const WORD wCount = WordAt(pdu + 3);
    if (wCount == 0 || wCount > MAX_READ_BITS) {
        return ILLEGAL_DATA_VALUE;
    }
    const CWordArray& data = Data(table);
    if (OutOfTable(wStart, wCount, data.size())) {
        return ILLEGAL_DATA_ADDRESS;
    }
    const size_t nBytes = (wCount + 7) / 8;
    answerPdu.assign(2 + nBytes, 0);
    answerPdu[0] = pdu[0];
    answerPdu[1] = static_cast<BYTE>(nBytes);
    for (size_t i = 0; i < wCount; ++i) {
        if (data[wStart + i] != 0) {
            answerPdu[2 + i / 8] |= static_cast<BYTE>(1 << (i % 8));
        }
    }
    return 0;
}

BYTE CSimDevice::ReadRegisters(Table table, const BYTE* pdu, size_t n,
                               CByteArray& answerPdu) const {
    if (n != 5) {
        return ILLEGAL_DATA_VALUE;
    }
    const WORD wStart = WordAt(pdu + 1);
    const WORD wCount = WordAt(pdu + 3);
    if (wCount == 0 || wCount > MAX_READ_REGISTERS) {
        return ILLEGAL_DATA_VALUE;
    }
    const CWordArray& data = Data(table);
    if (OutOfTable(wStart, wCount, data.size())) {
        return ILLEGAL_DATA_ADDRESS;
    }
    answerPdu = {pdu[0], static_cast<BYTE>(2 * wCount)};
    for (size_t i = 0; i < wCount; ++i) {
        PutWord(answerPdu, data[wStart + i]);
    }
    return 0;
}

BYTE CSimDevice::WriteSingleCoil(const BYTE* pdu, size_t n, CByteArray& answerPdu) {
    if (n != 5) {
        return ILLEGAL_DATA_VALUE;
    }
    const WORD wAddress = WordAt(pdu + 1);
    const WORD wValue = WordAt(pdu + 3);
    if (wValue != 0xFF00 && wValue != 0x0000) {
        return ILLEGAL_DATA_VALUE;
    }
    CWordArray& data = Data(Table::Coils);
    if (wAddress >= data.size()) {
        return ILLEGAL_DATA_ADDRESS;
    }
    data[wAddress] = wValue == 0xFF00 ? 1 : 0;
    answerPdu.assign(pdu, pdu + 5);
    return 0;
}

BYTE CSimDevice::WriteSingleRegister(const BYTE* pdu, size_t n, CByteArray& answerPdu) {
    if (n != 5) {
        return ILLEGAL_DATA_VALUE;
    }
    const WORD wAddress = WordAt(pdu + 1);
    CWordArray& data = Data(Table::HoldingRegisters);
    if (wAddress >= data.size()) {
        return ILLEGAL_DATA_ADDRESS;
    }
    data[wAddress] = WordAt(pdu + 3);
    answerPdu.assign(pdu, pdu + 5);
    return 0;
}

BYTE CSimDevice::Diagnostics(const BYTE* pdu, size_t n, CByteArray& answerPdu) const {
    if (n < 3) {
        return ILLEGAL_DATA_VALUE;
    }
    // Only "return query data" is simulated: the whole request comes back.
    if (WordAt(pdu + 1) != 0) {
        return ILLEGAL_FUNCTION;
    }
    answerPdu.assign(pdu, pdu + n);
    return 0;
}

BYTE CSimDevice::WriteMultipleCoils(const BYTE* pdu, size_t n, CByteArray& answerPdu) {
    if (n < 6) {
        return ILLEGAL_DATA_VALUE;
    }
    const WORD wStart = WordAt(pdu + 1);
    const WORD wCount = WordAt(pdu + 3);
    const size_t nBytes = pdu[5];
    if (wCount == 0 || wCount > MAX_WRITE_BITS || nBytes != (wCount + 7u) / 8 || n != 6 + nBytes) {
        return ILLEGAL_DATA_VALUE;
    }
    CWordArray& data = Data(Table::Coils);
    if (OutOfTable(wStart, wCount, data.size())) {
        return ILLEGAL_DATA_ADDRESS;
    }
    for (size_t i = 0; i < wCount; ++i) {
        data[wStart + i] = (pdu[6 + i / 8] >> (i % 8)) & 1;
    }
    answerPdu.assign(pdu, pdu + 5);
    return 0;
}

BYTE CSimDevice::WriteMultipleRegisters(const BYTE* pdu, size_t n, CByteArray& answerPdu) {
    if (n < 6) {
        return ILLEGAL_DATA_VALUE;
    }
    const WORD wStart = WordAt(pdu + 1);
    const WORD wCount = WordAt(pdu + 3);
    const size_t nBytes = pdu[5];
    if (wCount == 0 || wCount > MAX_WRITE_REGISTERS || nBytes != 2u * wCount || n != 6 + nBytes) {
        return ILLEGAL_DATA_VALUE;
    }
    CWordArray& data = Data(Table::HoldingRegisters);
    if (OutOfTable(wStart, wCount, data.size())) {
        return ILLEGAL_DATA_ADDRESS;
    }
    for (size_t i = 0; i < wCount; ++i) {
        data[wStart + i] = WordAt(pdu + 6 + 2 * i);
    }
    answerPdu.assign(pdu, pdu + 5);
    return 0;
}

BYTE CSimDevice::MaskWriteRegister(const BYTE* pdu, size_t n, CByteArray& answerPdu) {
    if (n != 7) {
        return ILLEGAL_DATA_VALUE;
    }
    const WORD wAddress = WordAt(pdu + 1);
    CWordArray& data = Data(Table::HoldingRegisters);
    if (wAddress >= data.size()) {
        return ILLEGAL_DATA_ADDRESS;
    }
    // The bits the AND mask keeps, and of the others those the OR mask sets.
    const WORD wAnd = WordAt(pdu + 3);
    const WORD wOr = WordAt(pdu + 5);
    data[wAddress] = static_cast<WORD>((data[wAddress] & wAnd) | (wOr & ~wAnd));
    answerPdu.assign(pdu, pdu + 7);
    return 0;
}

BYTE CSimDevice::ReadWriteMultipleRegisters(const BYTE* pdu, size_t n, CByteArray& answerPdu) {
    if (n < 10) {
        return ILLEGAL_DATA_VALUE;
    }
    const WORD wReadStart = WordAt(pdu + 1);
    const WORD wReadCount = WordAt(pdu + 3);
    const WORD wWriteStart = WordAt(pdu + 5);
    const WORD wWriteCount = WordAt(pdu + 7);
    const size_t nBytes = pdu[9];
    if (wReadCount == 0 || wReadCount > MAX_READ_REGISTERS || wWriteCount == 0 ||
        wWriteCount > 121 || nBytes != 2u * wWriteCount || n != 10 + nBytes) {
        return ILLEGAL_DATA_VALUE;
    }
    CWordArray& data = Data(Table::HoldingRegisters);
    if (OutOfTable(wReadStart, wReadCount, data.size()) ||
        OutOfTable(wWriteStart, wWriteCount, data.size())) {
        return ILLEGAL_DATA_ADDRESS;
    }
    // The write is done first, then the read.
    for (size_t i = 0; i < wWriteCount; ++i) {
        data[wWriteStart + i] = WordAt(pdu + 10 + 2 * i);
    }
    answerPdu = {pdu[0], static_cast<BYTE>(2 * wReadCount)};
    for (size_t i = 0; i < wReadCount; ++i) {
        answerPdu.push_back(static_cast<BYTE>(data[wReadStart + i] >> 8));
        answerPdu.push_back(static_cast<BYTE>(data[wReadStart + i]));
    }
    return 0;
}

void CSimDevice::SetAllUnits(BOOL bAnswer) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (bAnswer) {
        m_units.set();
    } else {
        m_units.reset();
    }
}

void CSimDevice::SetUnit(BYTE unit, BOOL bAnswer) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_units.set(unit, bAnswer != FALSE);
}

BOOL CSimDevice::IsUnitAnswering(BYTE unit) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_units.test(unit);
}

BOOL CSimDevice::Resize(Table table, size_t nSize, WORD wFill) {
    if (nSize > MAX_SIZE) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    Data(table).assign(nSize, IsBitTable(table) ? (wFill != 0) : wFill);
    return TRUE;
}

size_t CSimDevice::GetSize(Table table) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return Data(table).size();
}

BOOL CSimDevice::SetValue(Table table, size_t nAddress, WORD wValue) {
    return SetValues(table, nAddress, CWordArray{wValue});
}

BOOL CSimDevice::SetValues(Table table, size_t nAddress, const CWordArray& values) {
    std::lock_guard<std::mutex> guard(m_mutex);
    CWordArray& data = Data(table);
    if (OutOfTable(nAddress, values.size(), data.size())) {
        return FALSE;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        data[nAddress + i] = IsBitTable(table) ? (values[i] != 0) : values[i];
    }
    return TRUE;
}

WORD CSimDevice::GetValue(Table table, size_t nAddress) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    const CWordArray& data = Data(table);
    return nAddress < data.size() ? data[nAddress] : 0;
}

BOOL CSimDevice::SetWide(Table table, size_t nAddress, ULONGLONG v, size_t nParts, BOOL bReverse) {
    CWordArray regs(nParts);
    for (size_t k = 0; k < nParts; ++k) {
        regs[bReverse ? nParts - 1 - k : k] = static_cast<WORD>(v >> (16 * k));
    }
    return SetValues(table, nAddress, regs);
}

ULONGLONG CSimDevice::GetWide(Table table, size_t nAddress, size_t nParts, BOOL bReverse) const {
    ULONGLONG v = 0;
    for (size_t k = 0; k < nParts; ++k) {
        ULONGLONG part = GetValue(table, nAddress + (bReverse ? nParts - 1 - k : k));
        v |= part << (16 * k);
    }
    return v;
}

BOOL CSimDevice::SetFloat(Table table, size_t nAddress, float fValue, BOOL bReverse) {
    DWORD bits;
    std::memcpy(&bits, &fValue, sizeof bits);
    return SetWide(table, nAddress, bits, 2, bReverse);
}

BOOL CSimDevice::SetDouble(Table table, size_t nAddress, double dValue, BOOL bReverse) {
    ULONGLONG bits;
    std::memcpy(&bits, &dValue, sizeof bits);
    return SetWide(table, nAddress, bits, 4, bReverse);
}

float CSimDevice::GetFloat(Table table, size_t nAddress, BOOL bReverse) const {
    DWORD bits = static_cast<DWORD>(GetWide(table, nAddress, 2, bReverse));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

double CSimDevice::GetDouble(Table table, size_t nAddress, BOOL bReverse) const {
    ULONGLONG bits = GetWide(table, nAddress, 4, bReverse);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}
