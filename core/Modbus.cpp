#include "Modbus.h"

#include <cstdio>
#include <cstring>

#include "FunctionCodes.h"
#include "ModbusException.h"
#include "platform/Archive.h"

IMPLEMENT_DYNAMIC(CModbus, CObject)

namespace {
void PutWord(CByteArray& frame, size_t nPos, WORD w) {
    frame[nPos] = HIBYTE(w);
    frame[nPos + 1] = LOBYTE(w);
}

// device, function, two 16-bit fields: the request of every function but 16.
CByteArray SixByteRequest(WORD nDevice, BYTE byFunction, WORD wFirst, WORD wSecond) {
    CByteArray request(6);
    request[0] = LOBYTE(nDevice);
    request[1] = byFunction;
    PutWord(request, 2, wFirst);
    PutWord(request, 4, wSecond);
    return request;
}

// Registers r .. r + nParts - 1 of regs (0 beyond its end) as one value;
// bReverse puts the most significant part first.
ULONGLONG JoinRegisters(const CWordArray& regs, size_t r, size_t nParts, BOOL bReverse) {
    ULONGLONG v = 0;
    for (size_t k = 0; k < nParts; ++k) {
        size_t idx = bReverse ? r + nParts - 1 - k : r + k;
        ULONGLONG part = idx < regs.size() ? regs[idx] : 0;
        v |= part << (16 * k);
    }
    return v;
}

CWordArray SplitValue(ULONGLONG v, size_t nParts, BOOL bReverse) {
    CWordArray regs(nParts);
    for (size_t k = 0; k < nParts; ++k) {
        regs[bReverse ? nParts - 1 - k : k] = static_cast<WORD>(v >> (16 * k));
    }
    return regs;
}
}  // namespace

CModbus::CModbus() = default;

CModbus::~CModbus() = default;

void CModbus::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        WriteSettings(ar);
    } else {
        Load(ar, ELoad::CONNECT);
    }
}

void CModbus::WriteSettings(CArchive& ar) {
    ar << m_nTries << m_bThrowOnError << m_dwReserved;
}

void CModbus::Load(CArchive& ar, ELoad) {
    ar >> m_nTries >> m_bThrowOnError >> m_dwReserved;
}

CString CModbus::GetErrorText(WORD wStatus) {
    if (wStatus >= MODBUS_EXCEPTION_BASE) {
        char text[64];
        std::snprintf(text, sizeof text, "Modbus device return an exception code %d",
                      wStatus - MODBUS_EXCEPTION_BASE);
        return text;
    }
    switch (wStatus) {
        case MODBUS_OK:
            return "Ok";
        case MODBUS_TIMEOUT:
            return "Time Out Error";
        case MODBUS_INVALID_RESPONSE:
            return "invalid returned device response";
        case MODBUS_CRC_ERROR:
            return "crc error";
        case MODBUS_WRITE_ERROR:
            return "Write communication error";
        case MODBUS_READ_ERROR:
            return "Read communication error";
        case MODBUS_PORT_NOT_OPENED:
            return "Comm port not opened";
        case MODBUS_LOCK_TIMEOUT:
            return "Critical section lock time-out error";
        default:
            return CString();
    }
}

void CModbus::ThrowIfError(WORD wStatus) {
    if (wStatus == 0 || !m_bThrowOnError) {
        return;
    }
    throw new CModbusException(GetErrorText(wStatus), wStatus);
}

WORD CModbus::Exchange(CByteArray& request, DWORD dwResponseLength, Check check,
                       CByteArray& response) {
    WORD wStatus;
    int nAttempts = 0;
    do {
        // A fresh, zeroed answer per attempt: nothing of an earlier attempt can
        // pass for this one's data.
        response.assign(dwResponseLength, 0);
        wStatus = Transact(request, static_cast<DWORD>(request.size()), response, dwResponseLength,
                           FALSE);
        if (wStatus == 0) {
            // An answer shorter than expected is never read past its end.
            bool bValid = response.size() >= dwResponseLength;
            if (bValid && check == Check::DeviceAndFunction) {
                bValid =
                    response.size() >= 2 && response[0] == request[0] && response[1] == request[1];
            } else if (bValid) {
                bValid =
                    response.size() >= 6 && std::memcmp(response.data(), request.data(), 6) == 0;
            }
            if (!bValid) {
                wStatus = MODBUS_INVALID_RESPONSE;
            }
        }
        ++nAttempts;
    } while (nAttempts < m_nTries && wStatus != 0);
    ThrowIfError(wStatus);
    return wStatus;
}

WORD CModbus::ReadBits(BYTE byFunction, WORD nDevice, WORD wAddress, WORD wCount,
                       CByteArray& states) {
    CByteArray request = SixByteRequest(nDevice, byFunction, wAddress, wCount);
    CByteArray response;
    WORD wStatus =
        Exchange(request, 3 + (DWORD(wCount) + 7) / 8, Check::DeviceAndFunction, response);
    if (wStatus == 0) {
        for (size_t i = 0; i < wCount && i < states.size(); ++i) {
            states[i] = (response[3 + i / 8] >> (i % 8)) & 1;
        }
    }
    return wStatus;
}

WORD CModbus::ReadRegisters(BYTE byFunction, WORD nDevice, WORD wAddress, DWORD dwCount,
                            CWordArray& values) {
    // The count field carries the low 16 bits; the expected length is computed
    // in full so that an oversized read reaches the transport's limit check.
    CByteArray request = SixByteRequest(nDevice, byFunction, wAddress, static_cast<WORD>(dwCount));
    CByteArray response;
    WORD wStatus = Exchange(request, 3 + 2 * dwCount, Check::DeviceAndFunction, response);
    if (wStatus == 0) {
        for (size_t j = 0; j < dwCount && j < values.size(); ++j) {
            values[j] = static_cast<WORD>((response[3 + 2 * j] << 8) | response[4 + 2 * j]);
        }
    }
    return wStatus;
}

WORD CModbus::ReadOutputStatus(WORD nDevice, WORD wAddress, WORD wCount, CByteArray& states) {
    return ReadBits(ModbusFunction::READ_COILS, nDevice, wAddress, wCount, states);
}

WORD CModbus::ReadInputStatus(WORD nDevice, WORD wAddress, WORD wCount, CByteArray& states) {
    return ReadBits(ModbusFunction::READ_DISCRETE_INPUTS, nDevice, wAddress, wCount, states);
}

WORD CModbus::ReadOutputRegisters(WORD nDevice, WORD wAddress, WORD wCount, CWordArray& values) {
    CWordArray scratch(values.size(), 0);
    WORD wStatus =
        ReadRegisters(ModbusFunction::READ_HOLDING_REGISTERS, nDevice, wAddress, wCount, scratch);
    values = scratch;
    return wStatus;
}

WORD CModbus::ReadInputRegisters(WORD nDevice, WORD wAddress, WORD wCount, CWordArray& values) {
    CWordArray scratch(values.size(), 0);
    WORD wStatus =
        ReadRegisters(ModbusFunction::READ_INPUT_REGISTERS, nDevice, wAddress, wCount, scratch);
    values = scratch;
    return wStatus;
}

namespace {
template <typename T, typename Bits>
void ConvertRegisters(const CWordArray& regs, std::vector<T>& values, BOOL bReverse) {
    constexpr size_t nParts = sizeof(T) / 2;
    for (size_t i = 0; i < values.size(); ++i) {
        Bits bits = static_cast<Bits>(JoinRegisters(regs, nParts * i, nParts, bReverse));
        std::memcpy(&values[i], &bits, sizeof(T));
    }
}
}  // namespace

template <typename T, typename Bits>
WORD CModbus::ReadReals(BYTE byFunction, WORD nDevice, WORD wAddress, WORD wCount,
                        std::vector<T>& values, BOOL bReverse) {
    constexpr size_t nParts = sizeof(T) / sizeof(WORD);
    CWordArray regs(nParts * wCount, 0);
    WORD wStatus = ReadRegisters(byFunction, nDevice, wAddress, DWORD(nParts * wCount), regs);
    ConvertRegisters<T, Bits>(regs, values, bReverse);
    return wStatus;
}

WORD CModbus::ReadOutputRegistersFloat(WORD nDevice, WORD wAddress, WORD wCount,
                                       CFloatArray& values, BOOL bReverse) {
    return ReadReals<float, DWORD>(ModbusFunction::READ_HOLDING_REGISTERS, nDevice, wAddress,
                                   wCount, values, bReverse);
}

WORD CModbus::ReadOutputRegistersDouble(WORD nDevice, WORD wAddress, WORD wCount,
                                        CDoubleArray& values, BOOL bReverse) {
    return ReadReals<double, ULONGLONG>(ModbusFunction::READ_HOLDING_REGISTERS, nDevice, wAddress,
                                        wCount, values, bReverse);
}

WORD CModbus::ReadInputRegistersFloat(WORD nDevice, WORD wAddress, WORD wCount, CFloatArray& values,
                                      BOOL bReverse) {
    return ReadReals<float, DWORD>(ModbusFunction::READ_INPUT_REGISTERS, nDevice, wAddress, wCount,
                                   values, bReverse);
}

WORD CModbus::ReadInputRegistersDouble(WORD nDevice, WORD wAddress, WORD wCount,
                                       CDoubleArray& values, BOOL bReverse) {
    return ReadReals<double, ULONGLONG>(ModbusFunction::READ_INPUT_REGISTERS, nDevice, wAddress,
                                        wCount, values, bReverse);
}

WORD CModbus::WriteSingle(BYTE byFunction, WORD nDevice, WORD wAddress, WORD wValue) {
    CByteArray request = SixByteRequest(nDevice, byFunction, wAddress, wValue);
    CByteArray response;
    return Exchange(request, 6, Check::EchoSixBytes, response);
}

WORD CModbus::ForceSingleCoil(WORD nDevice, WORD wAddress, WORD wState) {
    return WriteSingle(ModbusFunction::WRITE_SINGLE_COIL, nDevice, wAddress,
                       wState == 1 ? 0xFF00 : 0x0000);
}

WORD CModbus::PresetSingleRegister(WORD nDevice, WORD wAddress, WORD wValue) {
    return WriteSingle(ModbusFunction::WRITE_SINGLE_REGISTER, nDevice, wAddress, wValue);
}

WORD CModbus::LoopbackTest(WORD nDevice) {
    return WriteSingle(ModbusFunction::DIAGNOSTICS, nDevice, 0x0000, 0xA537);
}

WORD CModbus::PresetMultipleRegisters(WORD nDevice, WORD wAddress, WORD wCount,
                                      const CWordArray& values) {
    CByteArray request(7 + 2 * size_t(wCount));
    request[0] = LOBYTE(nDevice);
    request[1] = ModbusFunction::WRITE_MULTIPLE_REGISTERS;
    PutWord(request, 2, wAddress);
    PutWord(request, 4, wCount);
    request[6] = static_cast<BYTE>(2 * wCount);  // one byte: the low 8 bits
    for (size_t i = 0; i < wCount; ++i) {
        PutWord(request, 7 + 2 * i, i < values.size() ? values[i] : 0);
    }
    CByteArray response;
    return Exchange(request, 6, Check::EchoSixBytes, response);
}

WORD CModbus::PresetRegisterFloat(WORD nDevice, WORD wAddress, float fValue, BOOL bReverse) {
    DWORD bits;
    std::memcpy(&bits, &fValue, 4);
    return PresetMultipleRegisters(nDevice, wAddress, 2, SplitValue(bits, 2, bReverse));
}

WORD CModbus::PresetRegisterDouble(WORD nDevice, WORD wAddress, double dValue, BOOL bReverse) {
    ULONGLONG bits;
    std::memcpy(&bits, &dValue, 8);
    return PresetMultipleRegisters(nDevice, wAddress, 4, SplitValue(bits, 4, bReverse));
}
