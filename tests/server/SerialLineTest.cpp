// The serial line on pseudo-terminals, the port map and the server's
// command line.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "server/SerialBaudRate.h"
#include "server/SerialLine.h"
#include "server/ServerOptions.h"
#include "sim/SimDevice.h"
#include "sim/SimSerialServer.h"

namespace {

bool HasWarning(const CSerialLine& line, const CString& strText) {
    const auto& warnings = line.GetWarnings();
    return std::any_of(warnings.begin(), warnings.end(), [&](const CString& strWarning) {
        return strWarning.find(strText) != CString::npos;
    });
}

class SerialLine : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_sim.StartPty()) << m_sim.GetError(); }

    CSimDevice m_device;
    CSimSerialServer m_sim{m_device};
    CSerialLine m_line;
};

TEST_F(SerialLine, ReportsWhatLinuxCannotDo) {
    CSerialSettings settings;
    ASSERT_TRUE(m_line.Open(m_sim.GetPath(), settings)) << m_line.GetError();
    EXPECT_TRUE(m_line.IsPty());
    EXPECT_TRUE(m_line.GetWarnings().empty());

    settings.m_nStopBits = CSerialSettings::STOP_ONE_AND_HALF;
    ASSERT_TRUE(m_line.Open(m_sim.GetPath(), settings));
    EXPECT_TRUE(HasWarning(m_line, "1.5 stop bits are not available on Linux; using 2"));

    settings = CSerialSettings();
    settings.m_nFlowControl = CSerialSettings::FLOW_DTR_DSR;
    ASSERT_TRUE(m_line.Open(m_sim.GetPath(), settings));
    EXPECT_TRUE(HasWarning(m_line, "no DSR flow control"));

    // A pty keeps no line format: a warning there, not a failure.
    settings = CSerialSettings();
    settings.m_nByteSize = 7;
    settings.m_nParity = CSerialSettings::PARITY_EVEN;
    settings.m_nMode = CSerialSettings::MODE_ASCII;
    ASSERT_TRUE(m_line.Open(m_sim.GetPath(), settings));
    EXPECT_TRUE(HasWarning(m_line, "asked for 7E1"));

    settings.m_nMode = CSerialSettings::MODE_RTU;
    settings.m_nFlowControl = CSerialSettings::FLOW_XON_XOFF;
    ASSERT_TRUE(m_line.Open(m_sim.GetPath(), settings));
    EXPECT_TRUE(HasWarning(m_line, "0x11 and 0x13"));
    EXPECT_TRUE(HasWarning(m_line, "RTU frames need 8 data bits"));
}

TEST_F(SerialLine, EveryBaudRate) {
    CSerialSettings settings;
    for (LONG nRate : {110, 300, 1200, 2400, 9600, 14400, 19200, 28800, 38400, 56000, 57600, 115200,
                       128000, 230400, 256000}) {
        settings.m_nBaudRate = nRate;
        ASSERT_TRUE(m_line.Open(m_sim.GetPath(), settings)) << nRate << m_line.GetError();
        EXPECT_EQ(CSerialBaudRate::Get(m_line.GetHandle()), nRate);
        EXPECT_EQ(CSerialBaudRate::StandardConstant(nRate) != 0,
                  nRate != 14400 && nRate != 28800 && nRate != 56000 && nRate != 128000 &&
                      nRate != 256000);
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
}

TEST_F(SerialLine, RefusesWhatIsNoSerialDevice) {
    CSerialSettings settings;
    EXPECT_FALSE(m_line.Open("/dev/null", settings));
    EXPECT_NE(m_line.GetError().find("not a serial device"), CString::npos);
    EXPECT_FALSE(m_line.Open("/dev/ttyDOES-NOT-EXIST", settings));
    EXPECT_NE(m_line.GetError().find("cannot open"), CString::npos);
    EXPECT_FALSE(m_line.IsOpen());
}

TEST_F(SerialLine, ReadsWaitNoLongerThanAsked) {
    CSerialSettings settings;
    ASSERT_TRUE(m_line.Open(m_sim.GetPath(), settings));
    BYTE buffer[16];
    size_t nRead = 99;
    EXPECT_EQ(m_line.Read(buffer, sizeof buffer, 20000, &nRead), CSerialLine::EResult::TIMEOUT);
    EXPECT_EQ(nRead, 0u);
    m_sim.Stop();
    EXPECT_EQ(m_line.Read(buffer, sizeof buffer, 1000000, &nRead), CSerialLine::EResult::GONE);
    const BYTE request[] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
    EXPECT_EQ(m_line.Write(request, sizeof request, 100), CSerialLine::EResult::GONE);
}

TEST(PortMap, DefaultsAssignmentsAndFiles) {
    CPortMap map;
    EXPECT_EQ(map.GetPath(1), "/dev/ttyS0");
    EXPECT_EQ(map.GetPath(4), "/dev/ttyS3");
    EXPECT_EQ(map.GetPath(5), "/dev/ttyUSB0");
    EXPECT_EQ(map.GetPath(8), "/dev/ttyUSB3");
    EXPECT_EQ(map.GetPath(9), "");
    CString strError;
    EXPECT_TRUE(map.Assign(" com3 = /dev/ttyACM0 ", strError));
    EXPECT_EQ(map.GetPath(3), "/dev/ttyACM0");
    for (const char* pszBad : {"COM9=/dev/x", "COM1", "COM1=", "COM1=dev/x", "LPT1=/dev/x"}) {
        EXPECT_FALSE(map.Assign(pszBad, strError)) << pszBad;
    }
    EXPECT_EQ(CPortMap::ParsePortName("Com8"), 8);
    EXPECT_EQ(CPortMap::ParsePortName("com08"), 0);

    char szDir[] = "/tmp/regprobe-portmap-XXXXXX";
    ASSERT_NE(::mkdtemp(szDir), nullptr);
    const CString strFile = CString(szDir) + "/ports.conf";
    std::ofstream(strFile) << "# test ports\n\nCOM2=/dev/ttyAMA0\n  COM7 = /dev/pts/9\n";
    EXPECT_TRUE(map.LoadFile(strFile, strError)) << strError;
    EXPECT_EQ(map.GetPath(2), "/dev/ttyAMA0");
    EXPECT_EQ(map.GetPath(7), "/dev/pts/9");
    std::ofstream(strFile) << "COM2=/dev/ttyS1\nnonsense\n";
    EXPECT_FALSE(map.LoadFile(strFile, strError));
    EXPECT_NE(strError.find("ports.conf:2"), CString::npos) << strError;
    ::unlink(strFile.c_str());
    ::rmdir(szDir);
}

// The server's options with XDG_CONFIG_HOME pointing at a scratch directory.
class ServerOptions : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(::mkdtemp(m_szDir), nullptr);
        const char* pszOld = std::getenv("XDG_CONFIG_HOME");
        m_bHadOld = pszOld != nullptr;
        m_strOld = m_bHadOld ? pszOld : "";
        ::setenv("XDG_CONFIG_HOME", m_szDir, 1);
    }
    void TearDown() override {
        if (m_bHadOld) {
            ::setenv("XDG_CONFIG_HOME", m_strOld.c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
        ::unlink((CString(m_szDir) + "/regprobe/serial-ports.conf").c_str());
        ::rmdir((CString(m_szDir) + "/regprobe").c_str());
        ::rmdir(m_szDir);
    }
    CServerOptions::EParse Parse(std::vector<const char*> args) {
        args.insert(args.begin(), "modbus-serial-server");
        m_options = CServerOptions();
        return m_options.Parse(int(args.size()), args.data(), m_strError);
    }

    char m_szDir[40] = "/tmp/regprobe-options-XXXXXX";
    bool m_bHadOld = false;
    CString m_strOld;
    CServerOptions m_options;
    CString m_strError;
};

TEST_F(ServerOptions, TheDefaultFileThenThePortOptions) {
    using EParse = CServerOptions::EParse;
    EXPECT_EQ(Parse({}), EParse::RUN);  // no file: the defaults
    EXPECT_EQ(m_options.m_portMap.GetPath(2), "/dev/ttyS1");
    EXPECT_FALSE(m_options.m_bActivated);

    ::mkdir((CString(m_szDir) + "/regprobe").c_str(), 0700);
    std::ofstream(CString(m_szDir) + "/regprobe/serial-ports.conf")
        << "COM2=/dev/ttyAMA0\nCOM3=/dev/from-file\n";
    EXPECT_EQ(Parse({"--port", "COM3=/dev/from-option", "--activated", "--linger=2", "--log-level",
                     "debug"}),
              EParse::RUN)
        << m_strError;
    EXPECT_EQ(m_options.m_portMap.GetPath(2), "/dev/ttyAMA0");
    EXPECT_EQ(m_options.m_portMap.GetPath(3), "/dev/from-option");
    EXPECT_TRUE(m_options.m_bActivated);
    EXPECT_EQ(m_options.m_nLingerSeconds, 2);
    EXPECT_EQ(m_options.m_logLevel, CServerLog::LEVEL_DEBUG);

    EXPECT_EQ(Parse({"--help"}), EParse::HELP);
    EXPECT_NE(CString(CServerOptions::HELP_TEXT).find("--port COMn=PATH"), CString::npos);
    const std::vector<std::vector<const char*>> bad = {
        {"--config", "/tmp/regprobe-no-such-file"},
        {"--listen", "127.0.0.1:0"},
        {"--foreground", "--activated"},
        {"--port", "COM9=/dev/x"},
        {"--log-level", "loud"},
        {"--linger", "-1"},
        {"--bogus"},
        {"--port"},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(Parse(args), EParse::BAD) << args[0];
        EXPECT_FALSE(m_strError.empty());
    }
}
}  // namespace
