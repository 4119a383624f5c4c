// Our port objects against other Modbus implementations over a null-modem
// pair of pseudo-terminals: a libmodbus RTU slave in this process and a
// pymodbus ASCII slave run by /usr/bin/python3.
#include <gtest/gtest.h>
#include <modbus.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "ChildProcess.h"
#include "PtyLink.h"
#include "ServerTestKit.h"
#include "core/Modbus.h"
#include "server/SerialPortObject.h"

namespace {

// A libmodbus RTU slave (unit 5) on a thread, on the device it is given.
class CLibmodbusRtuSlave {
public:
    explicit CLibmodbusRtuSlave(const std::string& strPath) {
        m_pCtx = modbus_new_rtu(strPath.c_str(), 9600, 'N', 8, 1);
        m_pMap = modbus_mapping_new(100, 100, 100, 100);
        if (m_pCtx == nullptr || m_pMap == nullptr) {
            return;
        }
        modbus_set_slave(m_pCtx, 5);
        // Short waits, so that the thread sees the stop soon.
        modbus_set_indication_timeout(m_pCtx, 0, 100000);
        modbus_set_response_timeout(m_pCtx, 0, 100000);
        if (modbus_connect(m_pCtx) != 0) {
            return;
        }
        for (int i = 0; i < 100; ++i) {
            m_pMap->tab_registers[i] = static_cast<uint16_t>(0x3000 + i);
            m_pMap->tab_input_registers[i] = static_cast<uint16_t>(0x4000 + i);
            m_pMap->tab_bits[i] = i % 4 == 0;
            m_pMap->tab_input_bits[i] = i % 4 == 1;
        }
        m_bServing = true;
        m_thread = std::thread([this] { Serve(); });
    }
    ~CLibmodbusRtuSlave() {
        m_bStop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        if (m_pCtx != nullptr) {
            modbus_close(m_pCtx);
            modbus_free(m_pCtx);
        }
        if (m_pMap != nullptr) {
            modbus_mapping_free(m_pMap);
        }
    }
    bool IsServing() const { return m_bServing; }
    template <typename F>
    auto WithMap(F f) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return f(*m_pMap);
    }

private:
    void Serve() {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!m_bStop) {
            const int rc = modbus_receive(m_pCtx, query);
            if (rc > 0) {
                std::lock_guard<std::mutex> guard(m_mutex);
                modbus_reply(m_pCtx, query, rc, m_pMap);
            }
        }
    }

    modbus_t* m_pCtx = nullptr;
    modbus_mapping_t* m_pMap = nullptr;
    bool m_bServing = false;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::thread m_thread;
};

// A port object on nPort mapped to strPath, open in the mode given.
IModbusSerialPort* OpenPort(std::shared_ptr<CSerialPorts>& pPorts, int nPort,
                            const std::string& strPath, SHORT nMode) {
    CPortMap map;
    map.SetPath(nPort, strPath);
    pPorts = std::make_shared<CSerialPorts>(map);
    IModbusSerialPort* pPort = new CSerialPortObject(pPorts);
    pPort->put_Port(static_cast<SHORT>(nPort));
    pPort->put_Mode(nMode);
    pPort->put_Timeout(1000);
    pPort->put_ErrorDelay(20);
    VARIANT_BOOL bOpen = VARIANT_FALSE;
    pPort->Connect(&bOpen);
    EXPECT_EQ(bOpen, VARIANT_TRUE);
    return pPort;
}

TEST(SerialPeers, LibmodbusRtuSlave) {
    CPtyLink link;
    ASSERT_TRUE(link.IsOpen());
    CLibmodbusRtuSlave slave(link.GetPathA());
    ASSERT_TRUE(slave.IsServing());
    std::shared_ptr<CSerialPorts> pPorts;
    IModbusSerialPort* pPort = OpenPort(pPorts, 4, link.GetPathB(), 0);

    CExchange x = Transfer(pPort, {5, 3, 0, 10, 0, 3});
    EXPECT_EQ(x.m_nStatus, 0);
    EXPECT_EQ(x.m_answer, (CByteArray{5, 3, 6, 0x30, 10, 0x30, 11, 0x30, 12}));
    x = Transfer(pPort, {5, 4, 0, 99, 0, 1});
    EXPECT_EQ(x.m_answer, (CByteArray{5, 4, 2, 0x40, 99}));
    x = Transfer(pPort, {5, 1, 0, 0, 0, 9});
    EXPECT_EQ(x.m_answer, (CByteArray{5, 1, 2, 0x11, 0x01}));
    x = Transfer(pPort, {5, 2, 0, 0, 0, 8});
    EXPECT_EQ(x.m_answer, (CByteArray{5, 2, 1, 0x22}));
    x = Transfer(pPort, {5, 6, 0, 20, 0xAB, 0xCD});
    EXPECT_EQ(x.m_answer, (CByteArray{5, 6, 0, 20, 0xAB, 0xCD}));
    x = Transfer(pPort, {5, 16, 0, 30, 0, 2, 4, 0, 1, 0, 2});
    EXPECT_EQ(x.m_answer, (CByteArray{5, 16, 0, 30, 0, 2}));
    x = Transfer(pPort, {5, 5, 0, 1, 0xFF, 0x00});
    EXPECT_EQ(x.m_nStatus, 0);
    x = Transfer(pPort, {5, 15, 0, 40, 0, 3, 1, 0x05});
    EXPECT_EQ(x.m_answer, (CByteArray{5, 15, 0, 40, 0, 3}));
    slave.WithMap([](modbus_mapping_t& map) {
        EXPECT_EQ(map.tab_registers[20], 0xABCD);
        EXPECT_EQ(map.tab_registers[31], 2);
        EXPECT_EQ(map.tab_bits[1], 1);
        EXPECT_EQ(map.tab_bits[40], 1);
        EXPECT_EQ(map.tab_bits[41], 0);
        return 0;
    });
    // A function libmodbus does not know; out of range is an address error.
    x = Transfer(pPort, {5, 0x41});
    EXPECT_EQ(x.m_nStatus, ServerStatus(0x8001));
    x = Transfer(pPort, {5, 3, 0, 99, 0, 2});
    EXPECT_EQ(x.m_nStatus, ServerStatus(0x8002));
    EXPECT_EQ(x.m_answer, (CByteArray{5, 0x83, 2}));
    // Another unit: nobody answers.
    pPort->put_Timeout(200);
    EXPECT_EQ(Transfer(pPort, {6, 3, 0, 0, 0, 1}).m_nStatus, ServerStatus(MODBUS_TIMEOUT));
    pPort->Release();
}

TEST(SerialPeers, PymodbusAsciiSlave) {
    CPtyLink link;
    ASSERT_TRUE(link.IsOpen());
    if (::access("/usr/bin/python3", X_OK) != 0) {
        GTEST_SKIP() << "/usr/bin/python3 is missing";
    }
    CChildProcess python;
    ASSERT_TRUE(python.Start({"/usr/bin/python3", REGPROBE_PYMODBUS_ASCII_SLAVE, link.GetPathA()}));
    std::string strLine;
    ASSERT_TRUE(python.ReadLine(strLine, 15000)) << "the pymodbus slave did not start";
    if (strLine.rfind("skip ", 0) == 0) {
        GTEST_SKIP() << strLine.substr(5);
    }
    ASSERT_EQ(strLine, "ready");
    std::shared_ptr<CSerialPorts> pPorts;
    IModbusSerialPort* pPort = OpenPort(pPorts, 5, link.GetPathB(), 1);

    // holding(i) = i * 7919 + 13, input(i) = i * 40503 + 101 (16 bits).
    CExchange x = Transfer(pPort, {7, 3, 0, 1, 0, 2});
    EXPECT_EQ(x.m_nStatus, 0);
    EXPECT_EQ(x.m_answer, (CByteArray{7, 3, 4, 0x1E, 0xFC, 0x3D, 0xEB}));
    x = Transfer(pPort, {7, 4, 0, 2, 0, 1});
    EXPECT_EQ(x.m_answer, (CByteArray{7, 4, 2, 0x3C, 0xD3}));
    x = Transfer(pPort, {7, 1, 0, 0, 0, 7});
    EXPECT_EQ(x.m_answer, (CByteArray{7, 1, 1, 0x49}));
    x = Transfer(pPort, {7, 6, 0, 9, 0x00, 0x2A});
    EXPECT_EQ(x.m_answer, (CByteArray{7, 6, 0, 9, 0x00, 0x2A}));
    x = Transfer(pPort, {7, 16, 0, 10, 0, 2, 4, 0xAA, 0xBB, 0xCC, 0xDD});
    EXPECT_EQ(x.m_answer, (CByteArray{7, 16, 0, 10, 0, 2}));
    x = Transfer(pPort, {7, 3, 0, 9, 0, 3});
    EXPECT_EQ(x.m_answer, (CByteArray{7, 3, 6, 0x00, 0x2A, 0xAA, 0xBB, 0xCC, 0xDD}));
    x = Transfer(pPort, {7, 3, 0, 200, 0, 1});
    EXPECT_EQ(x.m_nStatus, ServerStatus(0x8002));
    pPort->Release();
    python.CloseInput();
    EXPECT_EQ(python.Wait(5000), 0);
}
}  // namespace
