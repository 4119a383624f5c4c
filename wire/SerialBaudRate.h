// Baud rates on Linux: the standard rates have termios constants; any other
// rate goes through the kernel's arbitrary-rate interface (termios2 with
// BOTHER), which needs the kernel's own termios headers and so lives apart
// from the C library's.
#pragma once

#include "platform/WinTypes.h"

class CSerialBaudRate {
public:
    // The termios constant of a standard rate, or 0 when it has none.
    static unsigned int StandardConstant(LONG nBaudRate);
    // Sets input and output to any rate; 0 or the errno of the failure.
    static int SetArbitrary(int hFile, LONG nBaudRate);
    // The output rate the line is set to, or 0 when it cannot be read.
    static LONG Get(int hFile);
};
