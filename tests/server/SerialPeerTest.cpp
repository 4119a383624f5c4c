// Our port objects against other Modbus implementations on pseudo-terminals:
// a libmodbus RTU slave in this process and a pymodbus ASCII slave run by
// /usr/bin/python3.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "core/Modbus.h"
#include "tests/server/ServerTestKit.h"
#include "tests/support/ChildProcess.h"

namespace {

// A libmodbus RTU slave (unit 5) on a thread, on the master end of a
// pseudo-terminal: the device it names is the other end of the line.
class CLibmodbusRtuSlave {
public:
    CLibmodbusRtuSlave()
        : m_pCtx(modbus_new_rtu("/dev/null", 9600, 'N', 8, 1)),
          m_pMap(modbus_mapping_new(100, 100, 100, 100)) {
        const int hMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char szName[64];
        if (m_pCtx == nullptr || m_pMap == nullptr || modbus_set_socket(m_pCtx, hMaster) != 0 ||
            hMaster < 0 || ::grantpt(hMaster) != 0 || ::unlockpt(hMaster) != 0 ||
            ::ptsname_r(hMaster, szName, sizeof szName) != 0) {
            return;
        }
        m_strPath = szName;
        // Held open, so that the master never sees a hang-up.
        m_hHeld = ::open(szName, O_RDWR | O_NOCTTY | O_CLOEXEC);
        modbus_set_slave(m_pCtx, 5);
        // Short waits: for the next request, so that the thread sees the
        // stop soon, and before an exception that flushes the line.
        modbus_set_indication_timeout(m_pCtx, 0, 100000);
        modbus_set_response_timeout(m_pCtx, 0, 100000);
        for (int i = 0; i < 100; ++i) {
            m_pMap->tab_registers[i] = static_cast<uint16_t>(0x3000 + i);
            m_pMap->tab_input_registers[i] = static_cast<uint16_t>(0x4000 + i);
            m_pMap->tab_bits[i] = i % 4 == 0;
            m_pMap->tab_input_bits[i] = i % 4 == 1;
        }
        m_thread = std::thread([this] {
            uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!m_bStop) {
                const int rc = modbus_receive(m_pCtx, query);
                if (rc > 0) {
                    modbus_reply(m_pCtx, query, rc, m_pMap);
                }
            }
        });
    }
    ~CLibmodbusRtuSlave() {
        m_bStop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        for (int h : {m_hHeld, m_pCtx != nullptr ? modbus_get_socket(m_pCtx) : -1}) {
            if (h >= 0) {
                ::close(h);
            }
        }
        modbus_free(m_pCtx);
        modbus_mapping_free(m_pMap);
    }
    bool IsServing() const { return m_thread.joinable(); }

    std::string m_strPath;

private:
    modbus_t* m_pCtx;
    modbus_mapping_t* m_pMap;
    int m_hHeld = -1;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

struct CStep {
    CByteArray request;
    LONG nStatus;
    CByteArray answer;
};

void ExpectExchanges(IModbusSerialPort* pPort, const std::vector<CStep>& steps) {
    for (const CStep& step : steps) {
        const CExchange x = Transfer(pPort, step.request);
        EXPECT_EQ(x.m_nStatus, step.nStatus) << "function " << int(step.request[1]);
        EXPECT_EQ(x.m_answer, step.answer) << "function " << int(step.request[1]);
    }
}

TEST(SerialPeers, LibmodbusRtuSlave) {
    CLibmodbusRtuSlave slave;
    ASSERT_TRUE(slave.IsServing());
    std::shared_ptr<CSerialPorts> pPorts;
    IModbusSerialPort* pPort = OpenPort(pPorts, 4, slave.m_strPath, 0, 1000);
    ASSERT_NE(pPort, nullptr);
    ExpectExchanges(pPort, {
                               {{5, 3, 0, 10, 0, 3}, 0, {5, 3, 6, 0x30, 10, 0x30, 11, 0x30, 12}},
                               {{5, 4, 0, 99, 0, 1}, 0, {5, 4, 2, 0x40, 99}},
                               {{5, 1, 0, 0, 0, 9}, 0, {5, 1, 2, 0x11, 0x01}},
                               {{5, 2, 0, 0, 0, 8}, 0, {5, 2, 1, 0x22}},
                               {{5, 6, 0, 20, 0xAB, 0xCD}, 0, {5, 6, 0, 20, 0xAB, 0xCD}},
                               {{5, 16, 0, 30, 0, 2, 4, 0, 1, 0, 2}, 0, {5, 16, 0, 30, 0, 2}},
                               {{5, 5, 0, 1, 0xFF, 0x00}, 0, {5, 5, 0, 1, 0xFF, 0x00}},
                               {{5, 15, 0, 40, 0, 3, 1, 0x05}, 0, {5, 15, 0, 40, 0, 3}},
                               {{5, 0x41}, ServerStatus(0x8001), {5, 0xC1, 1}},
                               {{5, 3, 0, 99, 0, 2}, ServerStatus(0x8002), {5, 0x83, 2}},
                           });
    // Another unit: nobody answers.
    pPort->put_Timeout(200);
    EXPECT_EQ(Transfer(pPort, {6, 3, 0, 0, 0, 1}).m_nStatus, ServerStatus(MODBUS_TIMEOUT));
    pPort->Release();
}

TEST(SerialPeers, PymodbusAsciiSlave) {
    if (::access("/usr/bin/python3", X_OK) != 0) {
        GTEST_SKIP() << "/usr/bin/python3 is missing";
    }
    CChildProcess python;
    ASSERT_TRUE(python.Start({"/usr/bin/python3", REGPROBE_PYMODBUS_PEER, "ascii"}));
    std::string strLine;
    ASSERT_TRUE(python.ReadLine(strLine, 15000)) << "the pymodbus slave did not start";
    if (strLine.rfind("skip ", 0) == 0) {
        GTEST_SKIP() << strLine.substr(5);
    }
    ASSERT_EQ(strLine.rfind("ready /dev/", 0), 0u) << strLine;
    std::shared_ptr<CSerialPorts> pPorts;
    IModbusSerialPort* pPort = OpenPort(pPorts, 5, strLine.substr(6), 1, 1000);
    ASSERT_NE(pPort, nullptr);
    // holding(i) = i * 7919 + 13, input(i) = i * 40503 + 101 (16 bits).
    ExpectExchanges(pPort,
                    {
                        {{7, 3, 0, 1, 0, 2}, 0, {7, 3, 4, 0x1E, 0xFC, 0x3D, 0xEB}},
                        {{7, 4, 0, 2, 0, 1}, 0, {7, 4, 2, 0x3C, 0xD3}},
                        {{7, 1, 0, 0, 0, 7}, 0, {7, 1, 1, 0x49}},
                        {{7, 6, 0, 9, 0x00, 0x2A}, 0, {7, 6, 0, 9, 0x00, 0x2A}},
                        {{7, 16, 0, 10, 0, 2, 4, 0xAA, 0xBB, 0xCC, 0xDD}, 0, {7, 16, 0, 10, 0, 2}},
                        {{7, 3, 0, 9, 0, 3}, 0, {7, 3, 6, 0x00, 0x2A, 0xAA, 0xBB, 0xCC, 0xDD}},
                        {{7, 3, 0, 200, 0, 1}, ServerStatus(0x8002), {7, 0x83, 2}},
                    });
    pPort->Release();
}
}  // namespace
