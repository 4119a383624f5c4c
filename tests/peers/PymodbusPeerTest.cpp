// Our Modbus/TCP master against pymodbus's TCP server in a child process. The
// server's contents follow pymodbus_tcp_server.py; what the master writes is
// read back through libmodbus's master as well as through ours.
#include <gtest/gtest.h>
#include <modbus.h>

#include <functional>
#include <string>
#include <vector>

#include "PythonServer.h"
#include "WordOrder.h"
#include "transport/RemoteModbus.h"

namespace {
// The script's datastore.
constexpr int kSize = 1000;
constexpr int kPackedAt = 900;
constexpr float kPackedFloat = -1234.5625f;
constexpr double kPackedDouble = 3.141592653589793;

bool Coil(int i) {
    return i % 3 == 0;
}
bool Discrete(int i) {
    return i % 5 == 1 || i % 5 == 2;
}
WORD Holding(int i) {
    return static_cast<WORD>(i * 7919 + 13);
}
WORD InputRegister(int i) {
    return static_cast<WORD>(i * 40503 + 101);
}

class PymodbusPeer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string strWhy;
        switch (m_server.Run(REGPROBE_PYMODBUS_SERVER, 20000, strWhy)) {
            case CPythonServer::Start::NoPymodbus:
                GTEST_SKIP() << "pymodbus server not run: " << strWhy;
            case CPythonServer::Start::Failed:
                FAIL() << "pymodbus server: " << strWhy;
            case CPythonServer::Start::Serving:
                break;
        }
        const int nPort = m_server.GetPort();
        ASSERT_TRUE(m_master.Connect("127.0.0.1", static_cast<WORD>(nPort), 2000));
        m_pReader = modbus_new_tcp("127.0.0.1", nPort);
        ASSERT_NE(m_pReader, nullptr);
        modbus_set_response_timeout(m_pReader, 2, 0);
        ASSERT_EQ(modbus_connect(m_pReader), 0) << modbus_strerror(errno);
    }

    void TearDown() override {
        if (m_pReader != nullptr) {
            modbus_close(m_pReader);
            modbus_free(m_pReader);
        }
        m_master.Disconnect();
        m_server.Stop();
    }

    // The independent reader: libmodbus's master on a second connection.
    std::vector<uint16_t> Registers(BYTE byFunction, int nAddress, int nCount) {
        std::vector<uint16_t> regs(static_cast<size_t>(nCount));
        int n = byFunction == 3
                    ? modbus_read_registers(m_pReader, nAddress, nCount, regs.data())
                    : modbus_read_input_registers(m_pReader, nAddress, nCount, regs.data());
        EXPECT_EQ(n, nCount) << modbus_strerror(errno);
        return regs;
    }
    std::vector<uint8_t> Bits(BYTE byFunction, int nAddress, int nCount) {
        std::vector<uint8_t> bits(static_cast<size_t>(nCount));
        int n = byFunction == 1 ? modbus_read_bits(m_pReader, nAddress, nCount, bits.data())
                                : modbus_read_input_bits(m_pReader, nAddress, nCount, bits.data());
        EXPECT_EQ(n, nCount) << modbus_strerror(errno);
        return bits;
    }

    CPythonServer m_server;
    CRemoteModbus m_master;
    modbus_t* m_pReader = nullptr;
};

TEST_F(PymodbusPeer, ReadsTheDatastoreAtTheAddressGiven) {
    const struct {
        BYTE byFunction;
        WORD wAddress;
        WORD wCount;
    } reads[] = {{1, 0, 1}, {1, 5, 19},  {1, 0, 1000},  {2, 1, 1}, {2, 77, 30},  {2, 0, 1000},
                 {3, 0, 1}, {3, 500, 7}, {3, 775, 125}, {4, 1, 1}, {4, 333, 64}, {4, 0, 125}};
    for (const auto& r : reads) {
        SCOPED_TRACE(::testing::Message() << "function " << int(r.byFunction) << " address "
                                          << r.wAddress << " count " << r.wCount);
        if (r.byFunction <= 2) {
            CByteArray states(r.wCount, 0xEE);
            ASSERT_EQ(r.byFunction == 1 ? m_master.ReadOutputStatus(1, r.wAddress, r.wCount, states)
                                        : m_master.ReadInputStatus(1, r.wAddress, r.wCount, states),
                      0);
            EXPECT_EQ(states, Bits(r.byFunction, r.wAddress, r.wCount));
            for (int i = 0; i < r.wCount; ++i) {
                bool bExpected =
                    r.byFunction == 1 ? Coil(r.wAddress + i) : Discrete(r.wAddress + i);
                ASSERT_EQ(states[i], bExpected ? 1 : 0) << "bit " << i;
            }
        } else {
            CWordArray values(r.wCount, 0xEEEE);
            ASSERT_EQ(r.byFunction == 3
                          ? m_master.ReadOutputRegisters(1, r.wAddress, r.wCount, values)
                          : m_master.ReadInputRegisters(1, r.wAddress, r.wCount, values),
                      0);
            EXPECT_EQ(values, Registers(r.byFunction, r.wAddress, r.wCount));
            for (int i = 0; i < r.wCount; ++i) {
                WORD wExpected =
                    r.byFunction == 3 ? Holding(r.wAddress + i) : InputRegister(r.wAddress + i);
                ASSERT_EQ(values[i], wExpected) << "register " << i;
            }
        }
    }
}

TEST_F(PymodbusPeer, ReadsValuesPackedByPymodbusInBothWordOrders) {
    // Most significant word first at 900 (float) and 904 (double), least
    // significant first at 902 and 908.
    for (BYTE byFunction : {3, 4}) {
        const bool bInput = byFunction == 4;
        SCOPED_TRACE(bInput ? "input registers" : "holding registers");
        std::vector<uint16_t> packed = Registers(byFunction, kPackedAt, 12);
        std::vector<uint16_t> expected;
        for (const auto& words : {WordsOf(kPackedFloat, true), WordsOf(kPackedFloat, false),
                                  WordsOf(kPackedDouble, true), WordsOf(kPackedDouble, false)}) {
            expected.insert(expected.end(), words.begin(), words.end());
        }
        EXPECT_EQ(packed, expected);

        CFloatArray floats(1);
        CDoubleArray doubles(1);
        const struct {
            WORD wFloatAt, wDoubleAt;
            BOOL bReverse;
        } layouts[] = {{kPackedAt, kPackedAt + 4, TRUE}, {kPackedAt + 2, kPackedAt + 8, FALSE}};
        for (const auto& l : layouts) {
            ASSERT_EQ(bInput
                          ? m_master.ReadInputRegistersFloat(1, l.wFloatAt, 1, floats, l.bReverse)
                          : m_master.ReadOutputRegistersFloat(1, l.wFloatAt, 1, floats, l.bReverse),
                      0);
            ASSERT_EQ(
                bInput ? m_master.ReadInputRegistersDouble(1, l.wDoubleAt, 1, doubles, l.bReverse)
                       : m_master.ReadOutputRegistersDouble(1, l.wDoubleAt, 1, doubles, l.bReverse),
                0);
            EXPECT_EQ(floats[0], kPackedFloat) << "reverse " << l.bReverse;
            EXPECT_EQ(doubles[0], kPackedDouble) << "reverse " << l.bReverse;
        }
    }
}

TEST_F(PymodbusPeer, WritesAreSeenByAnIndependentReader) {
    const struct {
        WORD wState;
        uint8_t byExpected;
    } coils[] = {{1, 1}, {0, 0}, {1, 1}, {2, 0}, {1, 1}, {0xFF00, 0}};
    for (const auto& c : coils) {
        ASSERT_EQ(m_master.ForceSingleCoil(1, 10, c.wState), 0) << "state " << c.wState;
        EXPECT_EQ(Bits(1, 9, 3), (std::vector<uint8_t>{Coil(9), c.byExpected, Coil(11)}))
            << "state " << c.wState;
    }

    ASSERT_EQ(m_master.PresetSingleRegister(1, 100, 0xBEEF), 0);
    EXPECT_EQ(Registers(3, 99, 3), (std::vector<uint16_t>{Holding(99), 0xBEEF, Holding(101)}));

    for (WORD wCount : {1, 3, 123}) {
        CWordArray values(wCount);
        for (WORD i = 0; i < wCount; ++i) {
            values[i] = static_cast<WORD>(0xA000 + wCount + 7 * i);
        }
        ASSERT_EQ(m_master.PresetMultipleRegisters(1, 200, wCount, values), 0);
        std::vector<uint16_t> expected{Holding(199)};
        expected.insert(expected.end(), values.begin(), values.end());
        expected.push_back(Holding(200 + wCount));
        EXPECT_EQ(Registers(3, 199, wCount + 2), expected) << "count " << wCount;
    }

    const float fValue = 2.5e-7f;
    const double dValue = -6.02214076e23;
    for (BOOL bReverse : {FALSE, TRUE}) {
        SCOPED_TRACE(bReverse ? "most significant first" : "least significant first");
        ASSERT_EQ(m_master.PresetRegisterFloat(1, 400, fValue, bReverse), 0);
        ASSERT_EQ(m_master.PresetRegisterDouble(1, 410, dValue, bReverse), 0);
        EXPECT_EQ(Registers(3, 400, 2), WordsOf(fValue, bReverse));
        EXPECT_EQ(Registers(3, 410, 4), WordsOf(dValue, bReverse));
        CFloatArray floats(1);
        CDoubleArray doubles(1);
        ASSERT_EQ(m_master.ReadOutputRegistersFloat(1, 400, 1, floats, bReverse), 0);
        ASSERT_EQ(m_master.ReadOutputRegistersDouble(1, 410, 1, doubles, bReverse), 0);
        EXPECT_EQ(floats[0], fValue);
        EXPECT_EQ(doubles[0], dValue);
    }
}

TEST_F(PymodbusPeer, LoopbackIsEchoed) {
    EXPECT_EQ(m_master.LoopbackTest(1), 0);
    EXPECT_EQ(m_master.LoopbackTest(17), 0);
}

TEST_F(PymodbusPeer, ExceptionsOfTheServerAreReported) {
    CByteArray states(8);
    CWordArray values(8);
    const struct {
        const char* pchName;
        std::function<WORD()> op;
    } cases[] = {
        {"read coils", [&] { return m_master.ReadOutputStatus(1, kSize - 7, 8, states); }},
        {"read inputs", [&] { return m_master.ReadInputStatus(1, kSize, 1, states); }},
        {"read registers", [&] { return m_master.ReadOutputRegisters(1, kSize - 1, 2, values); }},
        {"read input registers", [&] { return m_master.ReadInputRegisters(1, 0xFFFF, 1, values); }},
        {"write coil", [&] { return m_master.ForceSingleCoil(1, kSize, 1); }},
        {"write register", [&] { return m_master.PresetSingleRegister(1, kSize, 1); }},
        {"write registers",
         [&] { return m_master.PresetMultipleRegisters(1, kSize - 2, 3, values); }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.op(), 0x8002) << c.pchName << " past the end";
        CWordArray one(1);
        ASSERT_EQ(m_master.ReadOutputRegisters(1, 7, 1, one), 0) << "after " << c.pchName;
        EXPECT_EQ(one[0], Holding(7));
    }
}
}  // namespace
