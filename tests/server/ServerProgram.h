// modbus-serial-server run as its users run it, for the tests of the
// program and of its remote side.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/com/ComApi.h"
#include "platform/com/rpc/RpcSettings.h"
#include "serialapi/ModbusSerialServerPs.h"
#include "sim/SimSerialServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

// modbus-serial-server started by the test on a private runtime directory,
// with COM1 on the simulator's pty.
class ServerProgram : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.Path().empty());
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        RegisterModbusSerialServerPs();
        for (WORD i = 0; i < 10; ++i) {
            m_device.SetHoldingRegister(i, static_cast<WORD>(0x5500 + i));
        }
        ASSERT_TRUE(m_sim.StartPty()) << m_sim.GetError();
        for (const auto& key : {std::pair{"right.key", "00112233445566778899aabbccddeeff"},
                                std::pair{"wrong.key", "ffeeddccbbaa99887766554433221100"}}) {
            std::ofstream(Path(key.first)) << key.second << "\n";
            ::chmod(Path(key.first).c_str(), 0600);
        }
    }
    void TearDown() override {
        m_sim.Stop();
        CoSetAccessKeyFile(nullptr);
        CoUninitialize();
    }
    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }
    // Starts the server, also listening on TCP for holders of the right
    // key, and waits until it does.
    bool StartServer(std::vector<std::string> argv) {
        argv.insert(argv.begin(), {REGPROBE_SERVER_PROGRAM, "--port", "COM1=" + m_sim.GetPath(),
                                   "--listen", "127.0.0.1:0", "--key-file", Path("right.key")});
        std::string strLine;
        const std::string strPrefix = "listening on 127.0.0.1:0 port ";
        if (!m_server.Start(argv) || !m_server.ReadLine(strLine, 5000) ||
            strLine.rfind(strPrefix, 0) != 0) {
            return false;
        }
        m_strRemote = "127.0.0.1:" + strLine.substr(strPrefix.size());
        m_nRemotePort = static_cast<WORD>(std::stoi(strLine.substr(strPrefix.size())));
        return true;
    }

    CTempDir m_dir;
    // For the server started here and the test's own activations.
    CScopedEnv m_runtime{RPC_RUNTIME_DIR_VARIABLE, m_dir.Path().c_str()};
    CSimDevice m_device;
    CSimSerialServer m_sim{m_device};
    CChildProcess m_server;
    std::string m_strRemote;
    WORD m_nRemotePort = 0;
};
