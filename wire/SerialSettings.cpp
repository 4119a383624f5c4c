#include "SerialSettings.h"

#include <algorithm>

int CSerialSettings::BitsPerCharacter() const {
    return 1 + int(m_nByteSize) + (m_nParity != PARITY_NONE ? 1 : 0) +
           (m_nStopBits == STOP_ONE ? 1 : 2);
}

LONGLONG CSerialSettings::TransmitMicros(size_t n) const {
    const LONGLONG nBaud = std::max<LONG>(m_nBaudRate, 1);
    return (LONGLONG(n) * BitsPerCharacter() * 1000000 + nBaud - 1) / nBaud;
}

LONGLONG CSerialSettings::GapMicros() const {
    const LONGLONG nCharacters = (TransmitMicros(7) + 1) / 2;
    return std::max<LONGLONG>({LONGLONG(m_nSilentInterval) * 1000, nCharacters, 1750});
}
