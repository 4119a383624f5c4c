// The serial line on pseudo-terminals, the port map and the server's
// command line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "server/ServerOptions.h"
#include "sim/SimDevice.h"
#include "sim/SimSerialServer.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
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

TEST(ServerOptions, PortsFromTheDefaultsTheFileAndTheOptions) {
    // The default file, under a scratch XDG_CONFIG_HOME.
    CTempDir dir;
    const CString szDir = dir.Path();
    CScopedEnv config("XDG_CONFIG_HOME", szDir.c_str());
    using EParse = CServerOptions::EParse;
    CServerOptions options;
    CString strError;
    auto parse = [&](std::vector<const char*> args) {
        args.insert(args.begin(), "modbus-serial-server");
        options = CServerOptions();
        strError.clear();
        return options.Parse(int(args.size()), args.data(), strError);
    };
    EXPECT_EQ(parse({}), EParse::RUN);  // no file: the defaults
    const CPortMap& map = options.m_portMap;
    EXPECT_EQ(map.GetPath(1), "/dev/ttyS0");
    EXPECT_EQ(map.GetPath(4), "/dev/ttyS3");
    EXPECT_EQ(map.GetPath(5), "/dev/ttyUSB0");
    EXPECT_EQ(map.GetPath(8), "/dev/ttyUSB3");
    EXPECT_EQ(map.GetPath(9), "");
    EXPECT_FALSE(options.m_bActivated);
    const CString strFile = CString(szDir) + "/regprobe/serial-ports.conf";
    std::filesystem::create_directory(CString(szDir) + "/regprobe");
    std::ofstream(strFile) << "# test ports\n\nCOM2=/dev/ttyAMA0\n  COM3 = /dev/from-file\n";
    EXPECT_EQ(parse({"--port", " com3 = /dev/from-option ", "--activated", "--linger=2",
                     "--log-level", "debug"}),
              EParse::RUN)
        << strError;
    EXPECT_EQ(map.GetPath(2), "/dev/ttyAMA0");
    EXPECT_EQ(map.GetPath(3), "/dev/from-option");
    EXPECT_TRUE(options.m_bActivated);
    EXPECT_EQ(options.m_nLingerSeconds, 2);
    EXPECT_EQ(options.m_logLevel, CServerLog::LEVEL_DEBUG);
    EXPECT_EQ(options.m_nGatewayIdleSeconds, CServerOptions::DEFAULT_GATEWAY_IDLE_SECONDS);
    EXPECT_EQ(parse({"--gateway-idle", "5"}), EParse::RUN) << strError;
    EXPECT_EQ(options.m_nGatewayIdleSeconds, 5);
    std::ofstream(strFile) << "COM2=/dev/ttyS1\nnonsense\n";
    EXPECT_EQ(parse({}), EParse::BAD);
    EXPECT_NE(strError.find("serial-ports.conf:2"), CString::npos) << strError;
    std::filesystem::remove_all(szDir);

    EXPECT_EQ(parse({"--help"}), EParse::HELP);
    const std::vector<std::vector<const char*>> bad = {
        {"--config", "/tmp/regprobe-no-such-file"},
        {"--listen", "127.0.0.1:0"},
        {"--foreground", "--activated"},
        {"--log-level", "loud"},
        {"--linger", "-1"},
        {"--gateway-idle", "1m"},
        {"--bogus"},
        {"--port"},
        {"--port", "COM9=/dev/x"},
        {"--port", "COM1"},
        {"--port", "COM1="},
        {"--port", "COM1=dev/x"},
        {"--port", "LPT1=/dev/x"},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(parse(args), EParse::BAD) << args[0] << " " << args.back();
        EXPECT_FALSE(strError.empty());
    }
}
}  // namespace
