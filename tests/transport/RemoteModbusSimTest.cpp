// The Modbus/TCP master against the simulated device on the loopback address.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Archive.h"
#include "sim/SimTcpServer.h"
#include "transport/RemoteModbus.h"

namespace {
using Clock = std::chrono::steady_clock;
using Table = CSimDevice::Table;

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
        for (int i = 0; i < 200 && m_server.GetConnectionCount() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(m_server.GetConnectionCount(), 1u);
    }
    void Fault(const char* pszRule) {
        CSimFaultRule rule;
        CString strError;
        ASSERT_TRUE(CSimFaults::Parse(pszRule, rule, strError)) << strError;
        m_server.AddFault(rule);
    }
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

TEST_F(RemoteModbusSim, ReadsBitsAndRegisters) {
    const BYTE pattern[11] = {1, 0, 1, 1, 0, 0, 0, 0, 1, 0, 1};
    for (size_t i = 0; i < 11; ++i) {
        m_device.SetCoil(3 + i, pattern[i]);
        m_device.SetDiscreteInput(100 + i, !pattern[i]);
    }
    CByteArray states(11, 7);
    ASSERT_EQ(m_master.ReadOutputStatus(UNIT, 3, 11, states), 0);
    EXPECT_EQ(states, CByteArray(pattern, pattern + 11));
    ASSERT_EQ(m_master.ReadInputStatus(UNIT, 100, 11, states), 0);
    for (size_t i = 0; i < 11; ++i) {
        EXPECT_EQ(states[i], !pattern[i]) << i;
    }

    CWordArray values;
    ASSERT_EQ(Read(3, values), 0);
    EXPECT_EQ(values, (CWordArray{0x1000, 0x1001, 0x1002}));
    m_device.SetInputRegister(9999, 0xFEDC);
    values.assign(1, 0);
    ASSERT_EQ(m_master.ReadInputRegisters(UNIT, 9999, 1, values), 0);
    EXPECT_EQ(values[0], 0xFEDC);
}

TEST_F(RemoteModbusSim, ReadsFloatsAndDoublesInBothWordOrders) {
    m_device.SetFloat(Table::HoldingRegisters, 100, 1.5f, FALSE);
    m_device.SetFloat(Table::HoldingRegisters, 102, -2.25f, FALSE);
    m_device.SetFloat(Table::InputRegisters, 200, 3.75f, TRUE);
    m_device.SetDouble(Table::HoldingRegisters, 300, 1.0 / 3, TRUE);
    m_device.SetDouble(Table::InputRegisters, 400, -1e100, FALSE);

    CFloatArray floats(2);
    ASSERT_EQ(m_master.ReadOutputRegistersFloat(UNIT, 100, 2, floats, FALSE), 0);
    EXPECT_EQ(floats, (CFloatArray{1.5f, -2.25f}));
    ASSERT_EQ(m_master.ReadOutputRegistersFloat(UNIT, 100, 1, floats, TRUE), 0);
    EXPECT_NE(floats[0], 1.5f);
    floats.assign(1, 0);
    ASSERT_EQ(m_master.ReadInputRegistersFloat(UNIT, 200, 1, floats, TRUE), 0);
    EXPECT_EQ(floats[0], 3.75f);

    CDoubleArray doubles(1);
    ASSERT_EQ(m_master.ReadOutputRegistersDouble(UNIT, 300, 1, doubles, TRUE), 0);
    EXPECT_EQ(doubles[0], 1.0 / 3);
    ASSERT_EQ(m_master.ReadInputRegistersDouble(UNIT, 400, 1, doubles, FALSE), 0);
    EXPECT_EQ(doubles[0], -1e100);
    ASSERT_EQ(m_master.ReadInputRegistersDouble(UNIT, 400, 1, doubles, TRUE), 0);
    EXPECT_NE(doubles[0], -1e100);
}

TEST_F(RemoteModbusSim, WritesReachTheDevice) {
    ASSERT_EQ(m_master.ForceSingleCoil(UNIT, 5, 1), 0);
    EXPECT_TRUE(m_device.GetCoil(5));
    // Only 1 means ON.
    ASSERT_EQ(m_master.ForceSingleCoil(UNIT, 5, 2), 0);
    EXPECT_FALSE(m_device.GetCoil(5));
    m_device.SetCoil(6, TRUE);
    ASSERT_EQ(m_master.ForceSingleCoil(UNIT, 6, 0xFF00), 0);
    EXPECT_FALSE(m_device.GetCoil(6));

    ASSERT_EQ(m_master.PresetSingleRegister(UNIT, 50, 0xCAFE), 0);
    EXPECT_EQ(m_device.GetHoldingRegister(50), 0xCAFE);
    ASSERT_EQ(m_master.PresetMultipleRegisters(UNIT, 60, 3, CWordArray{1, 2, 3}), 0);
    EXPECT_EQ(m_device.GetHoldingRegister(60), 1);
    EXPECT_EQ(m_device.GetHoldingRegister(62), 3);

    for (BOOL bReverse : {FALSE, TRUE}) {
        ASSERT_EQ(m_master.PresetRegisterFloat(UNIT, 70, 6.5f, bReverse), 0);
        EXPECT_EQ(m_device.GetFloat(Table::HoldingRegisters, 70, bReverse), 6.5f);
        EXPECT_NE(m_device.GetFloat(Table::HoldingRegisters, 70, !bReverse), 6.5f);
        ASSERT_EQ(m_master.PresetRegisterDouble(UNIT, 80, -0.1, bReverse), 0);
        EXPECT_EQ(m_device.GetDouble(Table::HoldingRegisters, 80, bReverse), -0.1);
        EXPECT_NE(m_device.GetDouble(Table::HoldingRegisters, 80, !bReverse), -0.1);
    }
    EXPECT_EQ(m_master.LoopbackTest(UNIT), 0);
}

TEST_F(RemoteModbusSim, ExceptionAnswersBecomeStatuses) {
    // A real refusal: beyond the end of the table.
    CWordArray values(2);
    EXPECT_EQ(m_master.ReadOutputRegisters(UNIT, 9999, 2, values), 0x8002);
    Fault("exception=0x81:1");
    EXPECT_EQ(Read(), MODBUS_TIMEOUT);
    EXPECT_EQ(m_master.GetErrorText(MODBUS_TIMEOUT), "Time Out Error");
    m_master.m_bMapServerErrors = FALSE;
    Fault("exception=0x81:1");
    EXPECT_EQ(Read(), 0x8081);
    m_master.m_bMapServerErrors = TRUE;
    // Mapped to "success" with no data: the master must not take it as data.
    Fault("exception=0x80:1");
    EXPECT_EQ(Read(), MODBUS_INVALID_RESPONSE);
    Fault("exception=0x80:1");
    EXPECT_EQ(m_master.PresetSingleRegister(UNIT, 0, 1), MODBUS_INVALID_RESPONSE);
    EXPECT_EQ(Read(), 0);
}

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
    Fault("close:1");
    EXPECT_EQ(Read(), REMOTE_READ_ERROR);
    EXPECT_EQ(m_master.GetErrorText(REMOTE_READ_ERROR), "Read Socket Error");

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
    EXPECT_EQ(m_master.GetErrorText(REMOTE_SOCKET_ERROR), "Socket Error");

    ASSERT_TRUE(m_master.Connect("127.0.0.1", m_server.GetPort(), TIMEOUT_MS));
    Fault("delay=100:1");
    EXPECT_EQ(Read(), 0);
}

TEST_F(RemoteModbusSim, ExtraBytesStartTheNextAnswer) {
    Fault("extra-bytes=3@request=1");
    EXPECT_EQ(Read(), 0);
    EXPECT_EQ(Read(), MODBUS_INVALID_RESPONSE);
    // A new connection starts clean.
    ASSERT_TRUE(m_master.Connect("127.0.0.1", m_server.GetPort(), TIMEOUT_MS));
    EXPECT_EQ(Read(), 0);
}

TEST_F(RemoteModbusSim, SurplusIsTheNextAnswer) {
    // A complete answer to a one-register read, holding 0xBEEF.
    Fault("extra-bytes=0x000000000005010302BEEF@request=1");
    CWordArray values;
    ASSERT_EQ(Read(1, values), 0);
    EXPECT_EQ(values[0], 0x1000);
    ASSERT_EQ(Read(1, values), 0);
    EXPECT_EQ(values[0], 0xBEEF);
    // The device's own answer to the second request comes third.
    ASSERT_EQ(Read(1, values), 0);
    EXPECT_EQ(values[0], 0x1000);
}

TEST_F(RemoteModbusSim, RetriesUseEveryTry) {
    m_master.m_nTries = 3;
    Fault("exception=4:2");
    EXPECT_EQ(Read(), 0);
    EXPECT_EQ(m_server.GetRequestCount(), 3u);

    Fault("exception=4:5");
    EXPECT_EQ(Read(), 0x8004);
    EXPECT_EQ(m_server.GetRequestCount(), 6u);

    m_master.m_nTries = 0;
    EXPECT_EQ(Read(), 0x8004);
    EXPECT_EQ(m_server.GetRequestCount(), 7u);
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
    EXPECT_EQ(Read(), 0);
    Fault("no-answer:1");
    EXPECT_EQ(Read(), REMOTE_SOCKET_ERROR);
    EXPECT_EQ(Read(), 0);
}

TEST_F(RemoteModbusSim, UnconnectedMastersStayOffTheNetwork) {
    const ULONGLONG nBefore = m_server.GetConnectionCount();
    CRemoteModbus fresh;
    EXPECT_FALSE(fresh.IsConnected());
    CWordArray values(1);
    EXPECT_EQ(fresh.ReadOutputRegisters(UNIT, 0, 1, values), REMOTE_NOT_CONNECTED);
    EXPECT_EQ(fresh.GetErrorText(REMOTE_NOT_CONNECTED), "Socket not connected");

    // A port nobody listens on any more.
    CSimDevice device;
    CSimTcpServer gone(device);
    ASSERT_TRUE(gone.Start());
    const WORD nPort = gone.GetPort();
    gone.Stop();
    EXPECT_FALSE(m_master.Connect("127.0.0.1", nPort, TIMEOUT_MS));
    EXPECT_FALSE(m_master.IsConnected());
    EXPECT_EQ(Read(), REMOTE_NOT_CONNECTED);

    EXPECT_FALSE(m_master.Connect("regprobe-sim-test.invalid", m_server.GetPort(), TIMEOUT_MS));
    EXPECT_FALSE(m_master.IsConnected());
    EXPECT_EQ(m_server.GetConnectionCount(), nBefore);
}

TEST_F(RemoteModbusSim, SerializeReconnects) {
    m_master.SetReconnect(FALSE);
    m_master.m_nTries = 2;
    const ULONGLONG nBefore = m_server.GetConnectionCount();
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        m_master.Serialize(ar);
        ar.Close();
    }
    EXPECT_EQ(Read(), 0);
    EXPECT_EQ(m_server.GetConnectionCount(), nBefore + 1);

    CMemFile stored(file.GetData());
    CArchive ar(&stored, CArchive::load);
    CRemoteModbus loaded;
    loaded.Serialize(ar);
    EXPECT_TRUE(loaded.IsConnected());
    EXPECT_EQ(loaded.GetPort(), m_server.GetPort());
    EXPECT_EQ(loaded.GetTimeout(), TIMEOUT_MS);
    EXPECT_EQ(loaded.m_nTries, 2);
    CWordArray values(1);
    EXPECT_EQ(loaded.ReadOutputRegisters(UNIT, 19, 1, values), 0);
    EXPECT_EQ(values[0], 0x1013);
    EXPECT_EQ(m_server.GetConnectionCount(), nBefore + 2);
}

TEST_F(RemoteModbusSim, ServesSeveralMastersAtOnce) {
    // Generous time-outs: only the overlap is measured here.
    m_master.SetTimeout(2000);
    Fault("delay=400@0");
    CRemoteModbus other;
    ASSERT_TRUE(other.Connect("127.0.0.1", m_server.GetPort(), 2000));
    WORD wSlow = 0xFFFF;
    std::thread slow([&] { wSlow = Read(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = Clock::now();
    CWordArray values(1);
    EXPECT_EQ(other.ReadOutputRegisters(UNIT, 5, 1, values), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(250));
    slow.join();
    EXPECT_EQ(wSlow, 0);
    EXPECT_EQ(values[0], 0x1005);
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
