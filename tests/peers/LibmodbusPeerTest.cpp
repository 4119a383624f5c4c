// Our Modbus/TCP master against libmodbus's TCP slave on a thread of this
// process: every value is checked against the slave's register map itself.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tests/peers/WordOrder.h"
#include "tests/support/PeerSocket.h"
#include "transport/RemoteModbus.h"

namespace {
constexpr int kBits = 2100;
constexpr int kRegisters = 300;

WORD Pattern(int i) {
    return static_cast<WORD>(i * 0x0101 ^ 0x5A5A);
}

// The slave listens on 127.0.0.1 at a port the system picks (libmodbus's own
// listen wants a fixed one) and serves one connection at a time.
class CLibmodbusSlave {
public:
    CLibmodbusSlave() {
        m_hListen = ListenLoopback(4, &m_nPort);
        if (m_hListen < 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        // The context only frames and answers; the sockets are handed to it.
        m_pCtx = modbus_new_tcp("127.0.0.1", m_nPort);
        m_pMap = modbus_mapping_new(kBits, kBits, kRegisters, kRegisters);
        // libmodbus sleeps this long before flushing after some exceptions.
        modbus_set_response_timeout(m_pCtx, 0, 20000);
        for (int i = 0; i < kBits; ++i) {
            m_pMap->tab_bits[i] = i % 3 == 0;
            m_pMap->tab_input_bits[i] = i % 5 == 1;
        }
        for (int i = 0; i < kRegisters; ++i) {
            m_pMap->tab_registers[i] = Pattern(i);
            m_pMap->tab_input_registers[i] = static_cast<uint16_t>(0xFFFF - i * 3);
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~CLibmodbusSlave() {
        m_bStop = true;
        m_thread.join();
        ::close(m_hListen);
        modbus_mapping_free(m_pMap);
        modbus_free(m_pCtx);
    }

    WORD GetPort() const { return m_nPort; }
    // Runs f on the register map while the slave cannot touch it.
    template <typename F>
    auto WithMap(F f) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return f(*m_pMap);
    }

private:
    void Serve() {
        int hConnection = -1;
        uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        // Short waits so that the destructor is never kept waiting long.
        while (!m_bStop) {
            pollfd p{hConnection >= 0 ? hConnection : m_hListen, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                continue;
            }
            if (hConnection < 0) {
                hConnection = ::accept4(m_hListen, nullptr, nullptr, SOCK_CLOEXEC);
                continue;
            }
            modbus_set_socket(m_pCtx, hConnection);
            int rc = modbus_receive(m_pCtx, query);
            if (rc > 0) {
                std::lock_guard<std::mutex> guard(m_mutex);
                modbus_reply(m_pCtx, query, rc, m_pMap);
            } else if (rc < 0) {
                ::close(hConnection);
                hConnection = -1;
            }
        }
        ::close(hConnection);
    }

    modbus_t* m_pCtx = nullptr;
    modbus_mapping_t* m_pMap = nullptr;
    int m_hListen = -1;
    WORD m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::thread m_thread;
};

class LibmodbusPeer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_master.Connect("127.0.0.1", m_slave.GetPort(), 2000)); }
    CWordArray Holding(int nFirst, int nCount) {
        return m_slave.WithMap([=](modbus_mapping_t& map) {
            return CWordArray(map.tab_registers + nFirst, map.tab_registers + nFirst + nCount);
        });
    }

    CLibmodbusSlave m_slave;
    CRemoteModbus m_master;
};

TEST_F(LibmodbusPeer, ReadsEveryTableAtTheAddressGiven) {
    CByteArray coils(2000), inputs(2000);
    CWordArray holding(125), input(125);
    ASSERT_EQ(m_master.ReadOutputStatus(17, 100, 2000, coils), 0);
    ASSERT_EQ(m_master.ReadInputStatus(255, 99, 2000, inputs), 0);
    ASSERT_EQ(m_master.ReadOutputRegisters(1, 175, 125, holding), 0);
    ASSERT_EQ(m_master.ReadInputRegisters(247, 174, 125, input), 0);
    m_slave.WithMap([&](modbus_mapping_t& map) {
        EXPECT_EQ(coils, CByteArray(map.tab_bits + 100, map.tab_bits + 2100));
        EXPECT_EQ(inputs, CByteArray(map.tab_input_bits + 99, map.tab_input_bits + 2099));
        EXPECT_EQ(holding, CWordArray(map.tab_registers + 175, map.tab_registers + 300));
        EXPECT_EQ(input, CWordArray(map.tab_input_registers + 174, map.tab_input_registers + 299));
    });
}

TEST_F(LibmodbusPeer, WritesLandAtTheAddressGiven) {
    auto coils = [this] {
        return m_slave.WithMap([](modbus_mapping_t& map) {
            return CByteArray(map.tab_bits + 1233, map.tab_bits + 1236);
        });
    };
    for (BYTE byState : {1, 0}) {
        ASSERT_EQ(m_master.ForceSingleCoil(1, 1234, byState), 0);
        EXPECT_EQ(coils(), (CByteArray{1, byState, 0}));
    }
    ASSERT_EQ(m_master.PresetSingleRegister(3, 42, 0x8001), 0);
    EXPECT_EQ(Holding(41, 3), (CWordArray{Pattern(41), 0x8001, Pattern(43)}));
    CWordArray values(123);
    for (WORD i = 0; i < 123; ++i) {
        values[i] = static_cast<WORD>(0xC000 + i);
    }
    ASSERT_EQ(m_master.PresetMultipleRegisters(1, 100, 123, values), 0);
    values.insert(values.begin(), Pattern(99));
    values.push_back(Pattern(223));
    EXPECT_EQ(Holding(99, 125), values);
}

TEST_F(LibmodbusPeer, FloatsAndDoublesInBothWordOrders) {
    const float fValue = -1234.5625f;
    const double dValue = 6.02214076e23;
    for (BOOL bReverse : {FALSE, TRUE}) {
        SCOPED_TRACE(bReverse ? "most significant first" : "least significant first");
        ASSERT_EQ(m_master.PresetRegisterFloat(1, 10, fValue, bReverse), 0);
        ASSERT_EQ(m_master.PresetRegisterDouble(1, 20, dValue, bReverse), 0);
        EXPECT_EQ(Holding(10, 2), WordsOf(fValue, bReverse));
        EXPECT_EQ(Holding(20, 4), WordsOf(dValue, bReverse));
        // The same words in the input registers, then both read back.
        m_slave.WithMap([](modbus_mapping_t& map) {
            std::copy(map.tab_registers + 10, map.tab_registers + 24, map.tab_input_registers + 10);
        });
        for (bool bInput : {false, true}) {
            CFloatArray floats(1);
            CDoubleArray doubles(1);
            ASSERT_EQ(bInput ? m_master.ReadInputRegistersFloat(1, 10, 1, floats, bReverse)
                             : m_master.ReadOutputRegistersFloat(1, 10, 1, floats, bReverse),
                      0);
            ASSERT_EQ(bInput ? m_master.ReadInputRegistersDouble(1, 20, 1, doubles, bReverse)
                             : m_master.ReadOutputRegistersDouble(1, 20, 1, doubles, bReverse),
                      0);
            EXPECT_EQ(floats[0], fValue) << "input registers: " << bInput;
            EXPECT_EQ(doubles[0], dValue) << "input registers: " << bInput;
        }
    }
}

TEST_F(LibmodbusPeer, ExceptionsOfTheSlaveAreReported) {
    CByteArray states(8);
    CWordArray values(126);
    const struct {
        const char* pszName;
        std::function<WORD()> op;
        WORD wExpected;
    } cases[] = {
        {"coils past the end", [&] { return m_master.ReadOutputStatus(1, kBits - 7, 8, states); },
         0x8002},
        {"input registers past the end",
         [&] { return m_master.ReadInputRegisters(1, 0xFFFF, 1, values); }, 0x8002},
        {"registers written past the end",
         [&] { return m_master.PresetMultipleRegisters(1, kRegisters - 2, 3, values); }, 0x8002},
        {"126 registers", [&] { return m_master.ReadOutputRegisters(1, 0, 126, values); }, 0x8003},
        // libmodbus has no diagnostics function.
        {"loopback", [&] { return m_master.LoopbackTest(1); }, 0x8001},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.op(), c.wExpected) << c.pszName;
        // The connection stays usable after every exception answer.
        CWordArray one(1);
        ASSERT_EQ(m_master.ReadOutputRegisters(1, 7, 1, one), 0) << c.pszName;
        EXPECT_EQ(one[0], Pattern(7));
    }
}
}  // namespace
