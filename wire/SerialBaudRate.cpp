#include "SerialBaudRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace {
struct StandardRate {
    LONG nBaudRate;
    unsigned int nConstant;
};

constexpr StandardRate STANDARD_RATES[] = {
    {110, B110},         {134, B134},         {150, B150},         {200, B200},
    {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},
    {38400, B38400},     {57600, B57600},     {115200, B115200},   {230400, B230400},
    {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};
}  // namespace

unsigned int CSerialBaudRate::StandardConstant(LONG nBaudRate) {
    for (const StandardRate& rate : STANDARD_RATES) {
        if (rate.nBaudRate == nBaudRate) {
            return rate.nConstant;
        }
    }
    return 0;
}

int CSerialBaudRate::SetArbitrary(int hFile, LONG nBaudRate) {
    termios2 tio{};
    if (::ioctl(hFile, TCGETS2, &tio) != 0) {
        return errno;
    }
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(nBaudRate);
    tio.c_ospeed = static_cast<speed_t>(nBaudRate);
    return ::ioctl(hFile, TCSETS2, &tio) == 0 ? 0 : errno;
}

LONG CSerialBaudRate::Get(int hFile) {
    termios2 tio{};
    if (::ioctl(hFile, TCGETS2, &tio) != 0) {
        return 0;
    }
    return static_cast<LONG>(tio.c_ospeed);
}
