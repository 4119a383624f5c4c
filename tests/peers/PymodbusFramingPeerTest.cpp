// Our masters of RTU frames over TCP and of Modbus/UDP against pymodbus's
// TCP server with its RTU framer and its UDP server, in a child process
// whose contents follow pymodbus_peer.py. The bytes of each request are
// checked against peers played by hand in FramedTransportTest.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "tests/support/ChildProcess.h"
#include "transport/RtuOverTcpModbus.h"
#include "transport/UdpModbus.h"

namespace {
class PymodbusFramingPeer : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (::access("/usr/bin/python3", X_OK) != 0) {
            GTEST_SKIP() << "no /usr/bin/python3";
        }
        const std::string strMode = GetParam();
        std::string strLine;
        ASSERT_TRUE(m_server.Start({"/usr/bin/python3", REGPROBE_PYMODBUS_PEER, strMode}));
        ASSERT_TRUE(m_server.ReadLine(strLine, 20000)) << "the pymodbus server did not start";
        if (strLine.rfind("skip ", 0) == 0) {
            GTEST_SKIP() << strLine;
        }
        ASSERT_EQ(strLine.rfind("port ", 0), 0u) << strLine;
        if (strMode == "udp") {
            m_pMaster = std::make_unique<CUdpModbus>();
        } else {
            m_pMaster = std::make_unique<CRtuOverTcpModbus>();
        }
        ASSERT_TRUE(
            m_pMaster->Connect("127.0.0.1", static_cast<WORD>(std::stoi(strLine.substr(5))), 2000));
    }

    CChildProcess m_server;
    std::unique_ptr<CRemoteModbus> m_pMaster;
};

// pymodbus fills holding register i with i * 7919 + 13, input register i
// with i * 40503 + 101, sets coils at every third address and discrete
// inputs where i % 5 is 1 or 2.
TEST_P(PymodbusFramingPeer, EveryFunctionOfTheMaster) {
    CModbus& m = *m_pMaster;
    CByteArray coils(10), inputs(10);
    ASSERT_EQ(m.ReadOutputStatus(1, 30, 10, coils), 0);
    ASSERT_EQ(m.ReadInputStatus(1, 30, 10, inputs), 0);
    for (WORD i = 0; i < 10; ++i) {
        EXPECT_EQ(coils[i], (30 + i) % 3 == 0 ? 1 : 0) << i;
        EXPECT_EQ(inputs[i], (30 + i) % 5 == 1 || (30 + i) % 5 == 2 ? 1 : 0) << i;
    }
    CWordArray holding(3), input(3);
    ASSERT_EQ(m.ReadOutputRegisters(1, 100, 3, holding), 0);
    ASSERT_EQ(m.ReadInputRegisters(1, 100, 3, input), 0);
    for (WORD i = 0; i < 3; ++i) {
        EXPECT_EQ(holding[i], WORD((100 + i) * 7919 + 13)) << i;
        EXPECT_EQ(input[i], WORD((100 + i) * 40503 + 101)) << i;
    }

    // Writes, read back through the same master.
    ASSERT_EQ(m.ForceSingleCoil(1, 31, 1), 0);
    ASSERT_EQ(m.PresetSingleRegister(1, 200, 0xBEEF), 0);
    ASSERT_EQ(m.PresetMultipleRegisters(1, 300, 3, CWordArray{7, 8, 9}), 0);
    ASSERT_EQ(m.PresetRegisterFloat(1, 400, 1.5f, FALSE), 0);
    CByteArray coil(1);
    CWordArray written(3), single(1);
    CFloatArray floats(1);
    ASSERT_EQ(m.ReadOutputStatus(1, 31, 1, coil), 0);
    ASSERT_EQ(m.ReadOutputRegisters(1, 200, 1, single), 0);
    ASSERT_EQ(m.ReadOutputRegisters(1, 300, 3, written), 0);
    ASSERT_EQ(m.ReadOutputRegistersFloat(1, 400, 1, floats, FALSE), 0);
    EXPECT_EQ(coil[0], 1);
    EXPECT_EQ(single[0], 0xBEEF);
    EXPECT_EQ(written, (CWordArray{7, 8, 9}));
    EXPECT_EQ(floats[0], 1.5f);
    EXPECT_EQ(m.LoopbackTest(1), 0);
    // pymodbus answers an address beyond its contents with exception 2.
    EXPECT_EQ(m.ReadOutputRegisters(1, 1199, 2, single), MODBUS_EXCEPTION_BASE + 2);
}

INSTANTIATE_TEST_SUITE_P(Framings, PymodbusFramingPeer, testing::Values("rtu-over-tcp", "udp"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param[0] == 'u' ? "Udp" : "RtuOverTcp");
                         });

}  // namespace
