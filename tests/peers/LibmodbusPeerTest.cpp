// Our Modbus/TCP master against libmodbus's TCP slave: every value is checked
// against the slave's register map itself.
#include <gtest/gtest.h>
#include <modbus.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "LibmodbusSlave.h"
#include "WordOrder.h"
#include "transport/RemoteModbus.h"

namespace {
constexpr int kBits = 2100;
constexpr int kRegisters = 300;

class LibmodbusPeer : public ::testing::Test {
protected:
    void SetUp() override {
        m_slave.WithMap([](modbus_mapping_t& map) {
            for (int i = 0; i < kBits; ++i) {
                map.tab_bits[i] = (i * 7) % 3 == 0;
                map.tab_input_bits[i] = i % 5 == 1;
            }
            for (int i = 0; i < kRegisters; ++i) {
                map.tab_registers[i] = static_cast<uint16_t>(i * 0x0101 ^ 0x5A5A);
                map.tab_input_registers[i] = static_cast<uint16_t>(0xFFFF - i * 3);
            }
        });
        ASSERT_TRUE(m_master.Connect("127.0.0.1", static_cast<WORD>(m_slave.GetPort()), 2000));
    }

    uint16_t Register(int i) {
        return m_slave.WithMap([i](modbus_mapping_t& map) { return map.tab_registers[i]; });
    }

    CLibmodbusSlave m_slave{kBits, kBits, kRegisters, kRegisters};
    CRemoteModbus m_master;
};

struct Read {
    BYTE byFunction;
    WORD nDevice;
    WORD wAddress;
    WORD wCount;
};

TEST_F(LibmodbusPeer, ReadsBitsAndRegistersAtTheAddressGiven) {
    const Read reads[] = {{1, 1, 0, 1},      {1, 17, 3, 8},   {1, 255, 17, 13}, {1, 1, 100, 2000},
                          {2, 1, 0, 1},      {2, 247, 9, 15}, {2, 1, 99, 2000}, {3, 1, 0, 1},
                          {3, 17, 99, 10},   {3, 1, 0, 125},  {3, 1, 299, 1},   {4, 1, 0, 1},
                          {4, 200, 150, 33}, {4, 1, 175, 125}};
    for (const Read& r : reads) {
        SCOPED_TRACE(::testing::Message()
                     << "function " << int(r.byFunction) << " device " << r.nDevice << " address "
                     << r.wAddress << " count " << r.wCount);
        if (r.byFunction <= 2) {
            CByteArray states(r.wCount, 0xEE);
            WORD wStatus = r.byFunction == 1
                               ? m_master.ReadOutputStatus(r.nDevice, r.wAddress, r.wCount, states)
                               : m_master.ReadInputStatus(r.nDevice, r.wAddress, r.wCount, states);
            ASSERT_EQ(wStatus, 0);
            m_slave.WithMap([&](modbus_mapping_t& map) {
                const uint8_t* bits = r.byFunction == 1 ? map.tab_bits : map.tab_input_bits;
                for (int i = 0; i < r.wCount; ++i) {
                    ASSERT_EQ(states[i], bits[r.wAddress + i]) << "bit " << i;
                }
            });
        } else {
            CWordArray values(r.wCount, 0xEEEE);
            WORD wStatus =
                r.byFunction == 3
                    ? m_master.ReadOutputRegisters(r.nDevice, r.wAddress, r.wCount, values)
                    : m_master.ReadInputRegisters(r.nDevice, r.wAddress, r.wCount, values);
            ASSERT_EQ(wStatus, 0);
            m_slave.WithMap([&](modbus_mapping_t& map) {
                const uint16_t* regs =
                    r.byFunction == 3 ? map.tab_registers : map.tab_input_registers;
                for (int i = 0; i < r.wCount; ++i) {
                    ASSERT_EQ(values[i], regs[r.wAddress + i]) << "register " << i;
                }
            });
        }
    }
}

TEST_F(LibmodbusPeer, SingleCoilIsOnOnlyForStateOne) {
    const struct {
        WORD wState;
        uint8_t byExpected;
    } cases[] = {{1, 1}, {0, 0}, {1, 1}, {2, 0}, {1, 1}, {0xFF00, 0}, {1, 1}, {0xFFFF, 0}};
    auto neighbours = [this] {
        return m_slave.WithMap([](modbus_mapping_t& map) {
            return std::make_pair(map.tab_bits[1233], map.tab_bits[1235]);
        });
    };
    const auto before = neighbours();
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "state " << c.wState);
        ASSERT_EQ(m_master.ForceSingleCoil(1, 1234, c.wState), 0);
        EXPECT_EQ(m_slave.WithMap([](modbus_mapping_t& map) { return map.tab_bits[1234]; }),
                  c.byExpected);
        EXPECT_EQ(neighbours(), before);
    }
}

TEST_F(LibmodbusPeer, WritesRegistersAtTheAddressGiven) {
    for (WORD wValue : {0x0000, 0xFFFF, 0x1234, 0x8001}) {
        ASSERT_EQ(m_master.PresetSingleRegister(3, 42, wValue), 0);
        EXPECT_EQ(Register(42), wValue);
    }
    const uint16_t before = Register(41);

    for (WORD wCount : {1, 3, 123}) {
        SCOPED_TRACE(::testing::Message() << "count " << wCount);
        CWordArray values(wCount);
        for (WORD i = 0; i < wCount; ++i) {
            values[i] = static_cast<WORD>(0xC000 + wCount * 0x100 + i);
        }
        const uint16_t after = Register(42 + wCount);
        ASSERT_EQ(m_master.PresetMultipleRegisters(1, 42, wCount, values), 0);
        for (WORD i = 0; i < wCount; ++i) {
            ASSERT_EQ(Register(42 + i), values[i]) << "register " << i;
        }
        EXPECT_EQ(Register(41), before);
        EXPECT_EQ(Register(42 + wCount), after);
    }
}

TEST_F(LibmodbusPeer, FloatsAndDoublesInBothWordOrders) {
    const float fValue = -1234.5625f;
    const double dValue = 6.02214076e23;
    for (BOOL bReverse : {FALSE, TRUE}) {
        SCOPED_TRACE(bReverse ? "most significant first" : "least significant first");
        ASSERT_EQ(m_master.PresetRegisterFloat(1, 10, fValue, bReverse), 0);
        ASSERT_EQ(m_master.PresetRegisterDouble(1, 20, dValue, bReverse), 0);
        m_slave.WithMap([&](modbus_mapping_t& map) {
            std::vector<uint16_t> f(map.tab_registers + 10, map.tab_registers + 12);
            std::vector<uint16_t> d(map.tab_registers + 20, map.tab_registers + 24);
            EXPECT_EQ(f, WordsOf(fValue, bReverse));
            EXPECT_EQ(d, WordsOf(dValue, bReverse));
            if (!bReverse) {
                // libmodbus's plain float helpers keep the low word first.
                EXPECT_EQ(modbus_get_float(f.data()), fValue);
            }
            // The same values for the read side, placed in both register kinds.
            for (uint16_t* regs : {map.tab_registers, map.tab_input_registers}) {
                if (bReverse) {
                    std::vector<uint16_t> w = WordsOf(fValue, true);
                    std::copy(w.begin(), w.end(), regs + 100);
                } else {
                    modbus_set_float(fValue, regs + 100);
                }
                std::vector<uint16_t> w = WordsOf(dValue, bReverse);
                std::copy(w.begin(), w.end(), regs + 110);
            }
        });

        for (bool bInput : {false, true}) {
            SCOPED_TRACE(bInput ? "input registers" : "holding registers");
            CFloatArray floats(1);
            CDoubleArray doubles(1);
            ASSERT_EQ(bInput ? m_master.ReadInputRegistersFloat(1, 100, 1, floats, bReverse)
                             : m_master.ReadOutputRegistersFloat(1, 100, 1, floats, bReverse),
                      0);
            ASSERT_EQ(bInput ? m_master.ReadInputRegistersDouble(1, 110, 1, doubles, bReverse)
                             : m_master.ReadOutputRegistersDouble(1, 110, 1, doubles, bReverse),
                      0);
            EXPECT_EQ(floats[0], fValue);
            EXPECT_EQ(doubles[0], dValue);
        }
    }
}

TEST_F(LibmodbusPeer, ExceptionsOfTheSlaveAreReported) {
    CByteArray states(8);
    CWordArray values(8);
    CFloatArray floats(1);
    CDoubleArray doubles(1);
    const struct {
        const char* pchName;
        std::function<WORD()> op;
        WORD wExpected;
    } cases[] = {
        {"read coils past the end",
         [&] { return m_master.ReadOutputStatus(1, kBits - 7, 8, states); }, 0x8002},
        {"read inputs past the end", [&] { return m_master.ReadInputStatus(1, kBits, 1, states); },
         0x8002},
        {"read registers past the end",
         [&] { return m_master.ReadOutputRegisters(1, kRegisters - 1, 2, values); }, 0x8002},
        {"read input registers past the end",
         [&] { return m_master.ReadInputRegisters(1, 0xFFFF, 1, values); }, 0x8002},
        {"float past the end",
         [&] { return m_master.ReadOutputRegistersFloat(1, kRegisters - 1, 1, floats, FALSE); },
         0x8002},
        {"double past the end",
         [&] { return m_master.ReadInputRegistersDouble(1, kRegisters - 3, 1, doubles, TRUE); },
         0x8002},
        {"coil past the end", [&] { return m_master.ForceSingleCoil(1, kBits, 1); }, 0x8002},
        {"register past the end", [&] { return m_master.PresetSingleRegister(1, kRegisters, 5); },
         0x8002},
        {"registers past the end",
         [&] { return m_master.PresetMultipleRegisters(1, kRegisters - 2, 3, values); }, 0x8002},
        {"read of no register", [&] { return m_master.ReadOutputRegisters(1, 0, 0, values); },
         0x8003},
        {"read of 126 registers", [&] { return m_master.ReadInputRegisters(1, 0, 126, values); },
         0x8003},
        // libmodbus has no diagnostics function: an illegal function answer.
        {"loopback", [&] { return m_master.LoopbackTest(1); }, 0x8001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pchName);
        EXPECT_EQ(c.op(), c.wExpected);
        // The connection stays usable after every exception answer.
        CWordArray one(1);
        ASSERT_EQ(m_master.ReadOutputRegisters(1, 7, 1, one), 0);
        EXPECT_EQ(one[0], Register(7));
    }
    EXPECT_EQ(m_slave.GetAcceptedCount(), 1);
}

TEST_F(LibmodbusPeer, ReconnectModeUsesANewConnectionPerExchange) {
    m_master.SetReconnect(TRUE);
    constexpr int kExchanges = 5;
    for (int i = 0; i < kExchanges; ++i) {
        ASSERT_EQ(m_master.PresetSingleRegister(1, static_cast<WORD>(i), static_cast<WORD>(~i)), 0);
        CWordArray values(1);
        ASSERT_EQ(m_master.ReadOutputRegisters(1, static_cast<WORD>(i), 1, values), 0);
        EXPECT_EQ(values[0], static_cast<WORD>(~i));
        EXPECT_EQ(Register(i), static_cast<WORD>(~i));
    }
    EXPECT_EQ(m_slave.GetAcceptedCount(), 1 + 2 * kExchanges);
}
}  // namespace
