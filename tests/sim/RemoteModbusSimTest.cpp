// The Modbus/TCP master against the simulated device on the loopback address.
#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <thread>

#include "sim/SimTcpServer.h"
#include "tests/support/SimRule.h"
#include "tests/support/Timing.h"
#include "transport/RemoteModbus.h"

namespace {
using Clock = std::chrono::steady_clock;
using Table = CSimDevice::Table;

size_t OpenDescriptors() {
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d) != nullptr) {
            ++n;
        }
        ::closedir(d);
    }
    return n;
}

constexpr DWORD TIMEOUT_MS = 300;
constexpr WORD UNIT = 1;

class RemoteModbusSim : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.Start()) << m_server.GetError();
        ASSERT_TRUE(m_master.Connect("127.0.0.1", m_server.GetPort(), TIMEOUT_MS));
        for (WORD a = 0; a < 20; ++a) {
            m_device.SetHoldingRegister(a, static_cast<WORD>(0x1000 + a));
        }
        // The server counts a connection when it accepts it, which may be a
        // moment after the master's connect returned.
        ASSERT_TRUE(WaitUntil([this] { return m_server.GetConnectionCount() == 1; }, 1000));
    }
    void Fault(const char* pszRule) { m_server.AddFault(Rule(pszRule)); }
    // Reads holding registers 0..wCount-1; values holds them on success.
    WORD Read(WORD wCount, CWordArray& values) {
        values.assign(wCount, 0);
        return m_master.ReadOutputRegisters(UNIT, 0, wCount, values);
    }
    WORD Read(WORD wCount = 2) {
        CWordArray values;
        return Read(wCount, values);
    }

    CSimDevice m_device;
    CSimTcpServer m_server{m_device};
    CRemoteModbus m_master;
};
}  // namespace

TEST_F(RemoteModbusSim, MisfitAnswersAreInvalid) {
    struct {
        const char* pszRule;
        bool bWrite;
    } cases[] = {
        {"wrong-unit:1", false},  {"wrong-function:1", false},     {"cut-short=3:1", false},
        {"wrong-unit=0:1", true}, {"wrong-function@fn16:1", true}, {"cut-short=4:1", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszRule);
        Fault(c.pszRule);
        // A short echo of a write is as invalid as a short read.
        WORD wStatus =
            c.bWrite ? m_master.PresetMultipleRegisters(UNIT, 0, 1, CWordArray{9}) : Read(5);
        EXPECT_EQ(wStatus, MODBUS_INVALID_RESPONSE);
    }
    EXPECT_EQ(Read(), 0);
}

TEST_F(RemoteModbusSim, SplitAnswersAreReassembled) {
    Fault("split-header=40:1");
    Fault("byte-by-byte=3:1");
    CWordArray values;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Read(10, values), 0);
        EXPECT_EQ(values[9], 0x1009);
    }
    EXPECT_EQ(m_server.GetRequestCount(), 2u);
}

TEST_F(RemoteModbusSim, LostAndLateAnswers) {
    const auto Timed = [this](WORD& wStatus) {
        const auto start = Clock::now();
        wStatus = Read();
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    };
    const char* lost[] = {"no-answer:1", "delay=700:1", "bad-length=3:1"};
    for (const char* pszRule : lost) {
        SCOPED_TRACE(pszRule);
        ASSERT_TRUE(m_master.Connect("127.0.0.1", m_server.GetPort(), TIMEOUT_MS));
        Fault(pszRule);
        WORD wStatus;
        auto elapsed = Timed(wStatus);
        EXPECT_EQ(wStatus, REMOTE_SOCKET_ERROR);
        EXPECT_GE(elapsed.count(), 250);
        EXPECT_LT(elapsed.count(), 2000);
    }
    EXPECT_EQ(m_master.GetErrorText(REMOTE_SOCKET_ERROR),
              "Socket Error: no answer within " + std::to_string(TIMEOUT_MS) + " ms");

    ASSERT_TRUE(m_master.Connect("127.0.0.1", m_server.GetPort(), TIMEOUT_MS));
    Fault("delay=100:1");
    EXPECT_EQ(Read(), 0);
}

TEST_F(RemoteModbusSim, SurplusIsNeverTakenForTheNextAnswer) {
    // A complete answer to a one-register read, holding 0xBEEF.
    Fault("extra-bytes=0x000000000005010302BEEF@request=1");
    CWordArray values;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Read(1, values), 0);
        EXPECT_EQ(values[0], 0x1000);
    }
}

TEST_F(RemoteModbusSim, ReconnectModeConnectsPerExchange) {
    m_master.SetReconnect(TRUE);
    const ULONGLONG nBefore = m_server.GetConnectionCount();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Read(), 0);
    }
    EXPECT_EQ(m_server.GetConnectionCount(), nBefore + 3);

    Fault("close:1");
    EXPECT_EQ(Read(), REMOTE_READ_ERROR);
    EXPECT_EQ(m_master.GetErrorText(REMOTE_READ_ERROR), "Read Socket Error");
    EXPECT_EQ(Read(), 0);
    Fault("no-answer:1");
    EXPECT_EQ(Read(), REMOTE_SOCKET_ERROR);
    EXPECT_EQ(Read(), 0);
}

// The poll thread reads while the user's thread writes on the same master:
// frames never interleave, so every answer matches its own request.
TEST_F(RemoteModbusSim, TwoThreadsShareOneConnection) {
    m_master.SetTimeout(2000);
    WORD wReadFailures = 0;
    WORD wWriteFailures = 0;
    std::thread reader([&] {
        for (int i = 0; i < 300; ++i) {
            CWordArray values(4);
            if (m_master.ReadOutputRegisters(UNIT, 0, 4, values) != 0 ||
                values != CWordArray{0x1000, 0x1001, 0x1002, 0x1003}) {
                ++wReadFailures;
            }
        }
    });
    for (int i = 0; i < 300; ++i) {
        if (m_master.PresetRegisterFloat(UNIT, 50, static_cast<float>(i), i & 1) != 0 ||
            m_master.ForceSingleCoil(UNIT, 7, i & 1) != 0) {
            ++wWriteFailures;
        }
    }
    reader.join();
    EXPECT_EQ(wReadFailures, 0);
    EXPECT_EQ(wWriteFailures, 0);
    EXPECT_EQ(m_server.GetConnectionCount(), 1u);
}

// The same sharing when every exchange makes its own connection: one thread's
// reconnect never closes or replaces the socket of the other's exchange, and
// no socket outlives the master.
TEST(RemoteModbusSimReconnect, TwoThreadsShareOneReconnectingMaster) {
    constexpr int EXCHANGES = 2000;
    const size_t nBefore = OpenDescriptors();
    CSimDevice device;
    for (WORD a = 0; a < 3; ++a) {
        device.SetHoldingRegister(a, static_cast<WORD>(0x1000 + a));
    }
    CSimTcpServer server(device);
    ASSERT_TRUE(server.Start()) << server.GetError();
    int nReadFailures = 0;
    int nWriteFailures = 0;
    {
        CRemoteModbus master;
        master.SetHost("127.0.0.1");
        master.SetPort(server.GetPort());
        master.SetTimeout(2000);
        master.SetReconnect(TRUE);
        std::thread reader([&] {
            for (int i = 0; i < EXCHANGES; ++i) {
                CWordArray values(3);
                if (master.ReadOutputRegisters(UNIT, 0, 3, values) != 0 ||
                    values != CWordArray{0x1000, 0x1001, 0x1002}) {
                    ++nReadFailures;
                }
            }
        });
        for (int i = 0; i < EXCHANGES; ++i) {
            if (master.PresetSingleRegister(UNIT, 60, static_cast<WORD>(i)) != 0) {
                ++nWriteFailures;
            }
        }
        reader.join();
    }
    // Stopping closes the server's ends; whatever is still open is the master's.
    server.Stop();
    EXPECT_EQ(nReadFailures, 0);
    EXPECT_EQ(nWriteFailures, 0);
    EXPECT_EQ(device.GetHoldingRegister(60), EXCHANGES - 1);
    EXPECT_EQ(server.GetConnectionCount(), 2u * EXCHANGES);
    EXPECT_EQ(OpenDescriptors(), nBefore);
}
