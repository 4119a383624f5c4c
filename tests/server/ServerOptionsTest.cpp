// The serial server's command line and port map: defaults, the ports file
// and the options over it.
#include "server/ServerOptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

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
    EXPECT_EQ(options.m_nGatewayIdleSeconds, ModbusGateway::DEFAULT_IDLE_SECONDS);
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
