// The masters of RTU frames over TCP and of Modbus/UDP against the simulated
// device, with the simulator's faults: each fault gives its status, and the
// next read gets its own answer.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "sim/SimTcpServer.h"
#include "sim/SimUdpServer.h"
#include "tests/support/SimRule.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PeerSocket.h"
#include "transport/RtuOverTcpModbus.h"
#include "transport/UdpModbus.h"
#include "wire/RtuFrame.h"

namespace {
using Clock = std::chrono::steady_clock;

constexpr DWORD TIMEOUT_MS = 300;
constexpr WORD UNIT = 1;

enum class ELink { RTU_OVER_TCP, UDP };

struct SFaultCase {
    ELink link;
    const char* pszRule;
    WORD wStatus;
    // The read ends by the time-out rather than at once.
    bool bWaits;
};

class FramedSim : public testing::TestWithParam<SFaultCase> {
protected:
    void SetUp() override {
        for (WORD a = 0; a < 10; ++a) {
            m_device.SetHoldingRegister(a, static_cast<WORD>(0x1000 + a));
        }
        WORD nPort = 0;
        if (GetParam().link == ELink::UDP) {
            ASSERT_TRUE(m_udp.Start()) << m_udp.GetError();
            nPort = m_udp.GetPort();
            m_pMaster = std::make_unique<CUdpModbus>();
        } else {
            m_tcp.SetFraming(CSimTcpServer::EFraming::RTU);
            ASSERT_TRUE(m_tcp.Start()) << m_tcp.GetError();
            nPort = m_tcp.GetPort();
            m_pMaster = std::make_unique<CRtuOverTcpModbus>();
        }
        ASSERT_TRUE(m_pMaster->Connect("127.0.0.1", nPort, TIMEOUT_MS));
    }
    WORD Read(WORD wCount, CWordArray& values) {
        values.assign(wCount, 0);
        return m_pMaster->ReadOutputRegisters(UNIT, 0, wCount, values);
    }

    CSimDevice m_device;
    CSimTcpServer m_tcp{m_device};
    CSimUdpServer m_udp{m_device};
    std::unique_ptr<CRemoteModbus> m_pMaster;
};

TEST_P(FramedSim, FaultGivesItsStatusAndTheNextReadItsOwnAnswer) {
    const SFaultCase& c = GetParam();
    m_udp.AddFault(Rule(c.pszRule));
    m_tcp.AddFault(Rule(c.pszRule));
    CWordArray values;
    const auto start = Clock::now();
    EXPECT_EQ(Read(3, values), c.wStatus);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (c.bWaits) {
        EXPECT_GE(ms, TIMEOUT_MS - 20);
    } else {
        EXPECT_LT(ms, TIMEOUT_MS);
    }
    if (c.wStatus == 0) {
        EXPECT_EQ(values, (CWordArray{0x1000, 0x1001, 0x1002}));
    }
    // Whatever the fault left behind (a late answer, junk, the rest of a
    // frame) never passes for the next answer.
    if (std::string(c.pszRule) == "close:1") {
        ASSERT_TRUE(m_pMaster->Connect(CString(), 0, 0));
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Read(2, values), 0) << i;
        EXPECT_EQ(values, (CWordArray{0x1000, 0x1001}));
        EXPECT_EQ(m_pMaster->PresetSingleRegister(UNIT, 5, WORD(i)), 0);
    }
    // Diagnostics, whose requests a function length cannot end.
    EXPECT_EQ(m_pMaster->LoopbackTest(UNIT), 0);
}

std::string CaseName(const testing::TestParamInfo<SFaultCase>& info) {
    std::string name =
        std::string(info.param.link == ELink::UDP ? "Udp_" : "Rtu_") + info.param.pszRule;
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) {
            ch = '_';
        }
    }
    return name;
}

constexpr WORD CRC = MODBUS_CRC_ERROR;
constexpr WORD LOST = REMOTE_SOCKET_ERROR;

INSTANTIATE_TEST_SUITE_P(
    Faults, FramedSim,
    testing::Values(SFaultCase{ELink::RTU_OVER_TCP, "delay=20:1", 0, false},
                    SFaultCase{ELink::RTU_OVER_TCP, "byte-by-byte=2:1", 0, false},
                    SFaultCase{ELink::RTU_OVER_TCP, "gap=40:1", 0, false},
                    SFaultCase{ELink::RTU_OVER_TCP, "exception=2:1", 0x8002, false},
                    SFaultCase{ELink::RTU_OVER_TCP, "bad-crc:1", CRC, false},
                    SFaultCase{ELink::RTU_OVER_TCP, "garbage=2:1", CRC, false},
                    SFaultCase{ELink::RTU_OVER_TCP, "extra-bytes=5:1", 0, false},
                    SFaultCase{ELink::RTU_OVER_TCP, "wrong-unit:1", MODBUS_INVALID_RESPONSE, false},
                    // Too short for its function: the rest is awaited until the time-out.
                    SFaultCase{ELink::RTU_OVER_TCP, "cut-short=3:1", CRC, true},
                    SFaultCase{ELink::RTU_OVER_TCP, "bad-length=2:1", CRC, true},
                    SFaultCase{ELink::RTU_OVER_TCP, "no-answer:1", LOST, true},
                    SFaultCase{ELink::RTU_OVER_TCP, "close:1", REMOTE_READ_ERROR, false},
                    SFaultCase{ELink::UDP, "delay=20:1", 0, false},
                    SFaultCase{ELink::UDP, "exception=3:1", 0x8003, false},
                    SFaultCase{ELink::UDP, "cut-short=3:1", MODBUS_INVALID_RESPONSE, false},
                    // Late, or not the answer to this request: dropped, and the wait
                    // goes on to the time-out.
                    SFaultCase{ELink::UDP, "delay=450:1", LOST, true},
                    SFaultCase{ELink::UDP, "wrong-unit:1", LOST, true},
                    SFaultCase{ELink::UDP, "wrong-function:1", LOST, true},
                    SFaultCase{ELink::UDP, "split-header=5:1", LOST, true},
                    SFaultCase{ELink::UDP, "close:1", LOST, true}),
    CaseName);

// A request with a wrong CRC goes unanswered, as on a serial line, and
// leaves the connection to the next one.
TEST(FramedSimRtu, RequestWithAWrongCrcGoesUnanswered) {
    CSimDevice device;
    device.SetHoldingRegister(0, 0x1234);
    CSimTcpServer server(device);
    server.SetFraming(CSimTcpServer::EFraming::RTU);
    ASSERT_TRUE(server.Start()) << server.GetError();
    CRawClient client(server.GetPort());
    ASSERT_TRUE(client.m_bConnected);
    const BYTE read[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    CByteArray bad = CRtuFrame::Encode(read, sizeof read);
    bad.back() ^= 0x01;
    client.Send(bad);
    EXPECT_TRUE(client.Receive(1, 200).empty());
    client.Send(CRtuFrame::Encode(read, sizeof read));
    EXPECT_EQ(client.Receive(7, 1000), (CByteArray{0x01, 0x03, 0x02, 0x12, 0x34, 0xB5, 0x33}));
    EXPECT_EQ(server.GetRequestCount(), 1u);
    EXPECT_FALSE(client.m_bClosed);
}

// The program serves what --transport names on --listen, and refuses other
// names.
class SimProgramTransport : public testing::TestWithParam<const char*> {};

TEST_P(SimProgramTransport, ServesTheNamedFraming) {
    const std::string strTransport = GetParam();
    CChildProcess sim;
    ASSERT_TRUE(sim.Start({REGPROBE_SIM_PROGRAM, "--transport", strTransport, "--listen",
                           "127.0.0.1:0", "--holding", "0=4660"}));
    std::string strLine;
    const std::string strPrefix = "listening on 127.0.0.1:";
    ASSERT_TRUE(sim.ReadLine(strLine, 5000));
    ASSERT_EQ(strLine.rfind(strPrefix, 0), 0u) << strLine;
    std::unique_ptr<CRemoteModbus> pMaster;
    if (strTransport == "udp") {
        pMaster = std::make_unique<CUdpModbus>();
    } else {
        pMaster = std::make_unique<CRtuOverTcpModbus>();
    }
    ASSERT_TRUE(
        pMaster->Connect("127.0.0.1", WORD(std::stoi(strLine.substr(strPrefix.size()))), 2000));
    CWordArray values(1);
    EXPECT_EQ(pMaster->ReadOutputRegisters(UNIT, 0, 1, values), 0);
    EXPECT_EQ(values[0], 4660);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimProgramTransport, testing::Values("rtu-over-tcp", "udp"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param[0] == 'u' ? "Udp" : "RtuOverTcp");
                         });

TEST(SimProgram, RefusesAnUnknownTransport) {
    CChildProcess sim;
    ASSERT_TRUE(sim.Start({REGPROBE_SIM_PROGRAM, "--transport", "serial"}, true));
    std::string strLine;
    ASSERT_TRUE(sim.ReadLine(strLine, 5000));
    EXPECT_EQ(strLine, "regprobe-sim: bad value for --transport: 'serial' (see --help)");
    EXPECT_EQ(sim.Wait(5000), 2);
}

}  // namespace
