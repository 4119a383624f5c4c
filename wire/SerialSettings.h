// The settings of one serial port, with the automation interface's values.
#pragma once

#include "platform/WinTypes.h"

class CSerialSettings {
public:
    enum : LONG { PARITY_NONE = 0, PARITY_ODD = 1, PARITY_EVEN = 2, PARITY_MARK = 3 };
    enum : LONG { FLOW_DTR_DSR = 1, FLOW_RTS_CTS = 2, FLOW_XON_XOFF = 4 };
    enum : LONG { STOP_ONE = 0, STOP_ONE_AND_HALF = 1, STOP_TWO = 2 };
    enum : LONG { MODE_RTU = 0, MODE_ASCII = 1 };

    static constexpr LONG MIN_BAUD_RATE = 110;
    static constexpr LONG MAX_BAUD_RATE = 4000000;
    static constexpr LONG MAX_TIMEOUT = 600000;
    static constexpr LONG MAX_SILENT_INTERVAL = 10000;
    static constexpr LONG MAX_ERROR_DELAY = 60000;

    LONG m_nBaudRate = 9600;
    LONG m_nParity = PARITY_NONE;
    LONG m_nFlowControl = 0;
    LONG m_nStopBits = STOP_ONE;
    LONG m_nByteSize = 8;
    LONG m_nMode = MODE_RTU;
    // Milliseconds.
    LONG m_nTimeout = 1000;
    LONG m_nSilentInterval = 5;
    LONG m_nErrorDelay = 100;

    // Start, data, parity and stop bits of one character on the line; one
    // and a half stop bits count as two, which is what Linux sends.
    int BitsPerCharacter() const;
    // Microseconds to send n characters.
    LONGLONG TransmitMicros(size_t n) const;
    // The RTU inter-frame gap: the silent interval, but no less than 3.5
    // characters and no less than 1750 us (the floor for fast lines).
    LONGLONG GapMicros() const;

    // Range checks of the values the interface may put.
    static bool IsValidBaudRate(LONG n) { return n >= MIN_BAUD_RATE && n <= MAX_BAUD_RATE; }
    static bool IsValidParity(LONG n) { return n >= PARITY_NONE && n <= PARITY_MARK; }
    static bool IsValidFlowControl(LONG n) { return n >= 0 && n <= 7; }
    static bool IsValidStopBits(LONG n) { return n >= STOP_ONE && n <= STOP_TWO; }
    static bool IsValidByteSize(LONG n) { return n == 7 || n == 8; }
    static bool IsValidMode(LONG n) { return n == MODE_RTU || n == MODE_ASCII; }
};
