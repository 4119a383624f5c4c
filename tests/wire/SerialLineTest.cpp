// The serial line on pseudo-terminals, and its settings as termios.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "sim/SimDevice.h"
#include "sim/SimSerialServer.h"
#include "wire/SerialBaudRate.h"
#include "wire/SerialLine.h"

namespace {

TEST(SerialLine, OpensWhatItCanAndSaysWhatLinuxCannotDo) {
    CSimDevice device;
    CSimSerialServer sim{device};
    ASSERT_TRUE(sim.StartPty()) << sim.GetError();
    CSerialLine line;
    CSerialSettings settings;
    ASSERT_TRUE(line.Open(sim.GetPath(), settings)) << line.GetError();
    EXPECT_TRUE(line.IsPty());
    EXPECT_TRUE(line.GetWarnings().empty());
    auto warns = [&](const CSerialSettings& s, const char* pszText) {
        EXPECT_TRUE(line.Open(sim.GetPath(), s)) << line.GetError();
        const auto& warnings = line.GetWarnings();
        return std::any_of(warnings.begin(), warnings.end(), [&](const CString& strWarning) {
            return strWarning.find(pszText) != CString::npos;
        });
    };
    settings.m_nStopBits = CSerialSettings::STOP_ONE_AND_HALF;
    EXPECT_TRUE(warns(settings, "1.5 stop bits are not available on Linux; using 2"));
    settings = CSerialSettings();
    settings.m_nFlowControl = CSerialSettings::FLOW_DTR_DSR;
    EXPECT_TRUE(warns(settings, "no DSR flow control"));
    // A pty keeps no line format: a warning there, not a failure.
    settings = CSerialSettings();
    settings.m_nByteSize = 7;
    settings.m_nParity = CSerialSettings::PARITY_EVEN;
    settings.m_nMode = CSerialSettings::MODE_ASCII;
    EXPECT_TRUE(warns(settings, "asked for 7E1"));
    settings.m_nMode = CSerialSettings::MODE_RTU;
    settings.m_nFlowControl = CSerialSettings::FLOW_XON_XOFF;
    EXPECT_TRUE(warns(settings, "0x11 and 0x13"));
    EXPECT_TRUE(warns(settings, "RTU frames need 8 data bits"));

    settings = CSerialSettings();
    for (LONG nRate : {110, 300, 1200, 2400, 9600, 14400, 19200, 28800, 38400, 56000, 57600, 115200,
                       128000, 230400, 256000}) {
        settings.m_nBaudRate = nRate;
        ASSERT_TRUE(line.Open(sim.GetPath(), settings)) << nRate << line.GetError();
        EXPECT_EQ(CSerialBaudRate::Get(line.GetHandle()), nRate);
    }
    // The character time and the RTU gap follow the rate and format.
    settings.m_nBaudRate = 9600;
    EXPECT_EQ(settings.TransmitMicros(8), 8334);
    settings.m_nSilentInterval = 0;
    EXPECT_EQ(settings.GapMicros(), 3646);
    settings.m_nBaudRate = 110;
    settings.m_nParity = CSerialSettings::PARITY_EVEN;
    EXPECT_EQ(settings.GapMicros(), 350000);
    settings.m_nBaudRate = 256000;
    EXPECT_EQ(settings.GapMicros(), 1750);

    EXPECT_FALSE(line.Open("/dev/null", settings));
    EXPECT_NE(line.GetError().find("not a serial device"), CString::npos);
    EXPECT_FALSE(line.Open("/dev/ttyDOES-NOT-EXIST", settings));
    EXPECT_NE(line.GetError().find("cannot open"), CString::npos);
    EXPECT_FALSE(line.IsOpen());
}

// What a pty cannot carry: the format bits themselves, made without a tty.
TEST(SerialLine, TermiosFromTheSettingsWithoutATty) {
    // A line left cooked, echoing, odd and with software flow by another program.
    termios dirty{};
    dirty.c_lflag = ICANON | ECHO;
    dirty.c_oflag = OPOST;
    dirty.c_cflag = CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
    dirty.c_iflag = IXON | IXOFF | INPCK;
    dirty.c_cc[VMIN] = 1;
    std::vector<CString> warnings;
    CSerialSettings settings;
    termios tio = CSerialLine::MakeTermios(dirty, settings, warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&tio), speed_t(B9600));

    settings.m_nByteSize = 7;
    settings.m_nParity = CSerialSettings::PARITY_MARK;
    settings.m_nStopBits = CSerialSettings::STOP_ONE_AND_HALF;
    settings.m_nFlowControl = CSerialSettings::FLOW_RTS_CTS | CSerialSettings::FLOW_XON_XOFF;
    settings.m_nMode = CSerialSettings::MODE_ASCII;
    settings.m_nBaudRate = 14400;
    tio = CSerialLine::MakeTermios(dirty, settings, warnings);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS),
              tcflag_t(CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK), tcflag_t(IXON | IXOFF | INPCK));
    // An arbitrary rate is set afterwards; ASCII takes XON/XOFF silently.
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B38400));
    EXPECT_EQ(warnings, std::vector<CString>{"1.5 stop bits are not available on Linux; using 2"});

    settings.m_nParity = CSerialSettings::PARITY_EVEN;
    tio = CSerialLine::MakeTermios(dirty, settings, warnings);
    EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB));
}
}  // namespace
