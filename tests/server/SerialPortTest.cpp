// The port objects end to end: through IModbusSerialPort (and through the
// automation master) over a pseudo-terminal to the simulator's serial side,
// in RTU and in ASCII.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ServerTestKit.h"
#include "core/Modbus.h"
#include "platform/Archive.h"
#include "platform/File.h"
#include "platform/com/ComApi.h"
#include "server/SerialPortFactory.h"
#include "server/SerialPortObject.h"
#include "sim/SimSerialServer.h"
#include "transport/AutoModbus.h"

namespace {
using Clock = std::chrono::steady_clock;
using EMode = CSimSerialServer::EMode;

CSimFaultRule Rule(const char* pszText) {
    CSimFaultRule rule;
    CString strError;
    EXPECT_TRUE(CSimFaults::Parse(pszText, rule, strError)) << strError;
    return rule;
}

long MillisSince(Clock::time_point start) {
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Registers the server's class object for local activation while alive.
class CClassRegistration {
public:
    explicit CClassRegistration(std::shared_ptr<CSerialPorts> pPorts) {
        CSerialPortFactory* pFactory = new CSerialPortFactory(std::move(pPorts));
        CoRegisterClassObject(CLSID_ModbusSerialServer, pFactory, CLSCTX_LOCAL_SERVER,
                              REGCLS_MULTIPLEUSE, &m_dwCookie);
        pFactory->Release();
    }
    ~CClassRegistration() { CoRevokeClassObject(m_dwCookie); }

private:
    DWORD m_dwCookie = 0;
};

class SerialPort : public testing::TestWithParam<EMode> {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (WORD i = 0; i < 10; ++i) {
            m_device.SetHoldingRegister(i, static_cast<WORD>(0x1100 + i));
            m_device.SetInputRegister(i, static_cast<WORD>(0x2200 + i));
            m_device.SetCoil(i, i % 3 == 0);
            m_device.SetDiscreteInput(i, i % 2 == 0);
        }
        m_sim.SetMode(GetParam());
        ASSERT_TRUE(m_sim.StartPty()) << m_sim.GetError();
        CPortMap map;
        map.SetPath(1, m_sim.GetPath());
        m_pPorts = std::make_shared<CSerialPorts>(map);
        m_pPort = new CSerialPortObject(m_pPorts);
        m_pPort->put_Mode(GetParam() == EMode::ASCII ? 1 : 0);
        m_pPort->put_Timeout(300);
        m_pPort->put_ErrorDelay(0);
        VARIANT_BOOL bOpen = VARIANT_FALSE;
        m_pPort->Connect(&bOpen);
        ASSERT_EQ(bOpen, VARIANT_TRUE);
    }
    void TearDown() override {
        if (m_pPort != nullptr) {
            m_pPort->Release();
        }
        m_pPorts.reset();
        m_sim.Stop();
        CoUninitialize();
    }

    CSimDevice m_device;
    CSimSerialServer m_sim{m_device};
    std::shared_ptr<CSerialPorts> m_pPorts;
    IModbusSerialPort* m_pPort = nullptr;
};

TEST_P(SerialPort, EveryFunctionOfTheMaster) {
    CClassRegistration registration(m_pPorts);
    CAutoModbus m;
    ASSERT_EQ(m.Create("", "com1"), S_OK);
    EXPECT_TRUE(m.IsConnected());  // the port is shared: already open

    CByteArray states(10);
    ASSERT_EQ(m.ReadOutputStatus(1, 0, 10, states), 0);
    EXPECT_EQ(states, (CByteArray{1, 0, 0, 1, 0, 0, 1, 0, 0, 1}));
    ASSERT_EQ(m.ReadInputStatus(1, 0, 10, states), 0);
    EXPECT_EQ(states, (CByteArray{1, 0, 1, 0, 1, 0, 1, 0, 1, 0}));
    CWordArray values(3);
    ASSERT_EQ(m.ReadOutputRegisters(1, 2, 3, values), 0);
    EXPECT_EQ(values, (CWordArray{0x1102, 0x1103, 0x1104}));
    ASSERT_EQ(m.ReadInputRegisters(1, 7, 3, values), 0);
    EXPECT_EQ(values, (CWordArray{0x2207, 0x2208, 0x2209}));
    EXPECT_EQ(m.ForceSingleCoil(1, 1, 1), 0);
    EXPECT_TRUE(m_device.GetCoil(1));
    EXPECT_EQ(m.PresetSingleRegister(1, 50, 0xBEEF), 0);
    EXPECT_EQ(m_device.GetHoldingRegister(50), 0xBEEF);
    EXPECT_EQ(m.LoopbackTest(1), 0);
    EXPECT_EQ(m.PresetMultipleRegisters(1, 60, 3, CWordArray{7, 8, 9}), 0);
    EXPECT_EQ(m_device.GetHoldingRegister(62), 9);
    // A full read: the largest answer the master asks for.
    CWordArray many(125);
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 125, many), 0);
    EXPECT_EQ(many[9], 0x1109);

    // Function 15 goes through the interface as it is.
    CExchange x = Transfer(m_pPort, {1, 15, 0, 30, 0, 10, 2, 0xFF, 0x03});
    EXPECT_EQ(x.m_nStatus, 0);
    EXPECT_EQ(x.m_answer, (CByteArray{1, 15, 0, 30, 0, 10}));
    EXPECT_TRUE(m_device.GetCoil(39));
    // An exception answer reaches the master as one.
    EXPECT_EQ(m.ReadOutputRegisters(1, 9999, 2, values), 0x8002);
}

TEST_P(SerialPort, AnswersEndWithTheirLastByte) {
    // A long time-out must not be waited for once the frame is whole.
    m_pPort->put_Timeout(5000);
    const auto start = Clock::now();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Transfer(m_pPort, {1, 3, 0, 0, 0, 4}).m_nStatus, 0);
        EXPECT_EQ(Transfer(m_pPort, {1, 8, 0, 0, 0xA5, 0x37}).m_nStatus, 0);
    }
    EXPECT_LT(MillisSince(start), 2000);
}

TEST_P(SerialPort, FaultsGiveTheirStatuses) {
    const bool bAscii = GetParam() == EMode::ASCII;
    struct Case {
        const char* pszFault;
        LONG nStatus;
        LONG nAsciiStatus;
    };
    const Case cases[] = {
        {"exception=2@next=1", ServerStatus(0x8002), ServerStatus(0x8002)},
        {"no-answer@next=1", ServerStatus(MODBUS_TIMEOUT), ServerStatus(MODBUS_TIMEOUT)},
        {"bad-crc@next=1", ServerStatus(MODBUS_CRC_ERROR), ServerStatus(MODBUS_CRC_ERROR)},
        {"cut-short=3@next=1", ServerStatus(MODBUS_CRC_ERROR), ServerStatus(MODBUS_CRC_ERROR)},
        {"bad-length=2@next=1", ServerStatus(MODBUS_CRC_ERROR), ServerStatus(MODBUS_CRC_ERROR)},
        // A pause inside a frame ends it in RTU; ASCII waits for CR LF.
        {"gap=60@next=1", ServerStatus(MODBUS_CRC_ERROR), 0},
        // Junk ahead of a frame spoils RTU; ASCII skips it up to ':'.
        {"garbage=4@next=1", ServerStatus(MODBUS_CRC_ERROR), 0},
        {"extra-bytes=5@next=1", 0, 0},
        {"delay=50@next=1", 0, 0},
        {"delay=500@next=1", ServerStatus(MODBUS_TIMEOUT), ServerStatus(MODBUS_TIMEOUT)},
    };
    const CByteArray request{1, 3, 0, 2, 0, 2};
    // Long enough for the rest of a broken answer to arrive and go.
    m_pPort->put_ErrorDelay(120);
    for (const Case& c : cases) {
        m_sim.AddFault(Rule(c.pszFault));
        CExchange x = Transfer(m_pPort, request);
        EXPECT_EQ(x.m_hr, S_OK) << c.pszFault;
        EXPECT_EQ(x.m_nStatus, bAscii ? c.nAsciiStatus : c.nStatus) << c.pszFault;
        EXPECT_TRUE(x.m_bArray) << c.pszFault;
        if (x.m_nStatus == ServerStatus(0x8002)) {
            EXPECT_EQ(x.m_answer, (CByteArray{1, 0x83, 2}));
        } else if (x.m_nStatus == 0) {
            EXPECT_EQ(x.m_answer, (CByteArray{1, 3, 4, 0x11, 0x02, 0x11, 0x03})) << c.pszFault;
        } else {
            EXPECT_TRUE(x.m_answer.empty()) << c.pszFault;
        }
        if (CString(c.pszFault).rfind("delay=500", 0) == 0) {
            // The late answer must not pass for the next one.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        // Whatever went wrong, the next exchange is clean.
        EXPECT_EQ(Transfer(m_pPort, request).m_nStatus, 0) << "after " << c.pszFault;
    }
    // A device that answers for another unit is passed on as it answered:
    // the master judges it.
    m_sim.AddFault(Rule("wrong-unit@next=1"));
    CExchange x = Transfer(m_pPort, request);
    EXPECT_EQ(x.m_nStatus, 0);
    ASSERT_FALSE(x.m_answer.empty());
    EXPECT_EQ(x.m_answer[0], 2);
    // Nobody answers a broadcast.
    EXPECT_EQ(Transfer(m_pPort, {0, 6, 0, 70, 0, 5}).m_nStatus, 0);
    EXPECT_EQ(m_device.GetHoldingRegister(70), 5);
}

TEST_P(SerialPort, OneExchangeAtATimeWhoeverAsks) {
    std::vector<std::thread> threads;
    std::atomic<int> nGood{0};
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            IModbusSerialPort* pPort = new CSerialPortObject(m_pPorts);
            SHORT nBound = 0;
            BSTR bstrName = AllocBstr("COM1");
            pPort->SelectPort(bstrName, 1, &nBound);
            SysFreeString(bstrName);
            for (int i = 0; i < 15; ++i) {
                const BYTE byAddress = static_cast<BYTE>((t * 3 + i) % 10);
                CExchange x = Transfer(pPort, {1, 3, 0, byAddress, 0, 1});
                if (x.m_nStatus == 0 &&
                    x.m_answer == CByteArray{1, 3, 2, 0x11, static_cast<BYTE>(byAddress)}) {
                    ++nGood;
                }
            }
            pPort->Release();
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(nGood, 45);
}

TEST_P(SerialPort, ADeviceThatGoesAwayClosesThePort) {
    CLogCapture log;
    // Gone while the answer is awaited: a read error.
    m_pPort->put_Timeout(3000);
    m_sim.AddFault(Rule("no-answer@next=1"));
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_sim.Stop();
    });
    const auto start = Clock::now();
    CExchange x = Transfer(m_pPort, {1, 3, 0, 0, 0, 1});
    stopper.join();
    EXPECT_EQ(x.m_nStatus, ServerStatus(MODBUS_READ_ERROR));
    EXPECT_LT(MillisSince(start), 2000);
    VARIANT_BOOL bActive = VARIANT_TRUE;
    m_pPort->get_Active(&bActive);
    EXPECT_EQ(bActive, VARIANT_FALSE);
    EXPECT_EQ(Transfer(m_pPort, {1, 3, 0, 0, 0, 1}).m_nStatus,
              ServerStatus(MODBUS_PORT_NOT_OPENED));
    EXPECT_TRUE(log.Contains(m_sim.GetPath() + " went away; the port is closed"));

    // The device is back under another name: Connect takes it.
    VARIANT_BOOL bOpen = VARIANT_TRUE;
    m_pPort->Connect(&bOpen);
    EXPECT_EQ(bOpen, VARIANT_FALSE);  // the old one is gone for good
    ASSERT_TRUE(m_sim.StartPty());
    m_pPorts->GetMap().SetPath(1, m_sim.GetPath());
    // What the line cannot do as asked reaches the log.
    m_pPort->put_StopBits(1);
    m_pPort->Connect(&bOpen);
    ASSERT_EQ(bOpen, VARIANT_TRUE);
    EXPECT_TRUE(log.Contains("COM1: " + m_sim.GetPath() + ": 1.5 stop bits"));
    EXPECT_EQ(Transfer(m_pPort, {1, 3, 0, 0, 0, 1}).m_nStatus, 0);

    // Gone before the request goes out: a write error.
    m_sim.Stop();
    EXPECT_EQ(Transfer(m_pPort, {1, 3, 0, 0, 0, 1}).m_nStatus, ServerStatus(MODBUS_WRITE_ERROR));
    m_pPort->get_Active(&bActive);
    EXPECT_EQ(bActive, VARIANT_FALSE);
}

TEST_P(SerialPort, TheClientRestoresTheServersSettings) {
    CByteArray record;
    {
        CClassRegistration registration(m_pPorts);
        CAutoModbus m;
        ASSERT_EQ(m.Create("", "com1"), S_OK);
        m.SetBaudRate(19200);
        m.SetTimeout(700);
        m.SetErrorDelay(5);
        m.SetSilentInterval(8);
        BSTR bstrAddress = AllocBstr("127.0.0.1");
        m.m_pTcpServer->put_Address(bstrAddress);
        SysFreeString(bstrAddress);
        m.m_pTcpServer->put_Port(0);
        VARIANT_BOOL bRunning = VARIANT_FALSE;
        m.m_pTcpServer->Start(&bRunning);
        ASSERT_EQ(bRunning, VARIANT_TRUE);
        CMemFile file;
        CArchive ar(&file, CArchive::store);
        m.Serialize(ar);
        ar.Close();
        record = file.GetData();
        m.m_pTcpServer->Stop(&bRunning);
    }
    // Another server process would start with the defaults; this one
    // closes its line first.
    m_pPort->Release();
    m_pPort = nullptr;
    m_pPorts.reset();
    CPortMap map;
    map.SetPath(1, m_sim.GetPath());
    auto pOther = std::make_shared<CSerialPorts>(map);
    CClassRegistration other(pOther);
    CMemFile in(record);
    CArchive ar(&in, CArchive::load);
    CAutoModbus loaded;
    loaded.Serialize(ar);
    EXPECT_TRUE(loaded.IsConnected());
    EXPECT_EQ(loaded.GetBaudRate(), 19200);
    EXPECT_EQ(loaded.GetTimeout(), 700);
    EXPECT_EQ(loaded.GetSilentInterval(), 8);
    EXPECT_EQ(loaded.GetMode(), GetParam() == EMode::ASCII ? 1 : 0);
    EXPECT_TRUE(pOther->GetPort(1)->IsGatewayRunning());
    CWordArray values(1);
    EXPECT_EQ(loaded.ReadOutputRegisters(1, 4, 1, values), 0);
    EXPECT_EQ(values[0], 0x1104);
}

INSTANTIATE_TEST_SUITE_P(Modes, SerialPort, testing::Values(EMode::RTU, EMode::ASCII),
                         [](const testing::TestParamInfo<EMode>& info) {
                             return info.param == EMode::RTU ? "Rtu" : "Ascii";
                         });

TEST(SerialPortObject, PropertiesAreSharedPerPortAndChecked) {
    auto pPorts = std::make_shared<CSerialPorts>(CPortMap());
    IModbusSerialPort* pFirst = new CSerialPortObject(pPorts);
    IModbusSerialPort* pSecond = new CSerialPortObject(pPorts);
    LONG nValue = 0;
    pFirst->get_Port(&nValue);
    EXPECT_EQ(nValue, 1);  // before any SelectPort
    EXPECT_EQ(pFirst->put_BaudRate(256000), S_OK);
    pSecond->get_BaudRate(&nValue);
    EXPECT_EQ(nValue, 256000);

    SHORT nResult = -1;
    BSTR bstrName = AllocBstr("cOm3");
    pSecond->SelectPort(bstrName, 1, &nResult);
    SysFreeString(bstrName);
    EXPECT_EQ(nResult, 1);
    pSecond->get_BaudRate(&nValue);
    EXPECT_EQ(nValue, 9600);  // COM3 keeps its own
    for (const char* pszBad : {"com9", "com0", "tty1", "com12", ""}) {
        bstrName = AllocBstr(pszBad);
        pSecond->SelectPort(bstrName, 1, &nResult);
        SysFreeString(bstrName);
        EXPECT_EQ(nResult, 0) << pszBad;
    }
    pSecond->get_Port(&nValue);
    EXPECT_EQ(nValue, 3);
    EXPECT_EQ(pSecond->put_Port(9), E_INVALIDARG);
    EXPECT_EQ(pSecond->put_Port(1), S_OK);

    EXPECT_EQ(pFirst->put_Parity(4), E_INVALIDARG);
    EXPECT_EQ(pFirst->put_StopBits(3), E_INVALIDARG);
    EXPECT_EQ(pFirst->put_ByteSize(6), E_INVALIDARG);
    EXPECT_EQ(pFirst->put_Mode(2), E_INVALIDARG);
    EXPECT_EQ(pFirst->put_BaudRate(50), E_INVALIDARG);
    EXPECT_EQ(pFirst->put_Timeout(0), E_INVALIDARG);
    EXPECT_EQ(pFirst->put_FlowControl(8), E_INVALIDARG);
    EXPECT_EQ(pFirst->put_Parity(3), S_OK);
    SHORT nShort = 0;
    pSecond->get_Parity(&nShort);
    EXPECT_EQ(nShort, 3);
    EXPECT_EQ(pFirst->Reserved7(), E_NOTIMPL);
    EXPECT_EQ(pFirst->Reserved48(), E_NOTIMPL);
    EXPECT_EQ(pFirst->GetTypeInfoCount(nullptr), E_NOTIMPL);

    // One gateway per port, whoever asks.
    IDispatch* pGatewayA = nullptr;
    IDispatch* pGatewayB = nullptr;
    pFirst->get_TcpServer(&pGatewayA);
    pSecond->get_TcpServer(&pGatewayB);
    EXPECT_EQ(pGatewayA, pGatewayB);
    IModbusTcpServer* pTcp = nullptr;
    EXPECT_EQ(pGatewayA->QueryInterface(IID_IModbusTcpServer, reinterpret_cast<void**>(&pTcp)),
              S_OK);
    pTcp->Release();
    pGatewayA->Release();
    pGatewayB->Release();

    // Not open, and malformed requests: always an array back.
    CExchange x = Transfer(pFirst, {1, 3, 0, 0, 0, 1});
    EXPECT_EQ(x.m_nStatus, ServerStatus(MODBUS_PORT_NOT_OPENED));
    EXPECT_TRUE(x.m_bArray);
    x = Transfer(pFirst, {1});
    EXPECT_EQ(x.m_hr, E_INVALIDARG);
    EXPECT_TRUE(x.m_bArray);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = AllocBstr("0103");
    COleSafeArrayEx response;
    LONG nStatus = 0;
    EXPECT_EQ(pFirst->Transfer(text, 4, &response, 5, nullptr, &nStatus), E_INVALIDARG);
    EXPECT_EQ(response.vt, VT_ARRAY | VT_UI1);
    VariantClear(&text);

    EXPECT_EQ(pPorts->GetObjectCount(), 2);
    EXPECT_FALSE(pPorts->IsIdle());
    pFirst->Release();
    pSecond->Release();
    EXPECT_TRUE(pPorts->IsIdle());
}
}  // namespace
