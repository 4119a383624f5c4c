// The port objects end to end, in RTU and in ASCII, over a pseudo-terminal
// to the simulator's serial side: through IModbusSerialPort, through the
// automation master, and through the port's Modbus/TCP gateway with
// libmodbus and a raw client.
#include <gtest/gtest.h>
#include <modbus.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "core/FunctionCodes.h"
#include "core/Modbus.h"
#include "platform/com/ComApi.h"
#include "server/SerialPortFactory.h"
#include "server/TcpGateway.h"
#include "sim/SimSerialServer.h"
#include "tests/server/ServerTestKit.h"
#include "tests/support/Timing.h"
#include "transport/AutoModbus.h"

namespace {
using Clock = std::chrono::steady_clock;
using EMode = CSimSerialServer::EMode;

class SerialPort : public testing::TestWithParam<EMode> {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (WORD i = 0; i < 20; ++i) {
            m_device.SetHoldingRegister(i, static_cast<WORD>(0x1100 + i));
            m_device.SetInputRegister(i, static_cast<WORD>(0x2200 + i));
            m_device.SetCoil(i, i % 3 == 0);
            m_device.SetDiscreteInput(i, i % 2 == 0);
        }
        m_sim.SetMode(GetParam());
        ASSERT_TRUE(m_sim.StartPty()) << m_sim.GetError();
        m_pPort = OpenPort(m_pPorts, 1, m_sim.GetPath(), GetParam() == EMode::ASCII ? 1 : 0);
        ASSERT_NE(m_pPort, nullptr);
    }
    void TearDown() override {
        if (m_pGateway != nullptr) {
            m_pGateway->Release();
        }
        if (m_pPort != nullptr) {
            m_pPort->Release();
        }
        m_pPorts.reset();
        m_sim.Stop();
        CoUninitialize();
    }

    // Starts the port's gateway on 127.0.0.1 and a free port: that port.
    LONG StartGateway() {
        IDispatch* pDispatch = nullptr;
        m_pPort->get_TcpServer(&pDispatch);
        pDispatch->QueryInterface(IID_IModbusTcpServer, reinterpret_cast<void**>(&m_pGateway));
        pDispatch->Release();
        for (const char* pszAddress : {"localhost", "127.0.0.1"}) {
            BSTR bstrAddress = AllocBstr(pszAddress);
            EXPECT_EQ(m_pGateway->put_Address(bstrAddress),
                      pszAddress[0] == 'l' ? E_INVALIDARG : S_OK);
            SysFreeString(bstrAddress);
        }
        m_pGateway->put_Port(0);
        VARIANT_BOOL bRunning = VARIANT_FALSE;
        m_pGateway->Start(&bRunning);
        LONG nPort = 0;
        m_pGateway->get_Port(&nPort);
        return bRunning == VARIANT_TRUE ? nPort : 0;
    }

    CSimDevice m_device;
    CSimSerialServer m_sim{m_device};
    std::shared_ptr<CSerialPorts> m_pPorts;
    IModbusSerialPort* m_pPort = nullptr;
    IModbusTcpServer* m_pGateway = nullptr;
};

TEST_P(SerialPort, EveryFunctionOfTheMaster) {
    DWORD dwCookie = 0;
    CSerialPortFactory* pFactory = new CSerialPortFactory(m_pPorts);
    CoRegisterClassObject(CLSID_ModbusSerialServer, pFactory, CLSCTX_LOCAL_SERVER,
                          REGCLS_MULTIPLEUSE, &dwCookie);
    pFactory->Release();
    CAutoModbus m;
    ASSERT_EQ(m.Create("", "com1"), S_OK);
    EXPECT_TRUE(m.IsConnected());  // the port is shared: already open
    // Each answer ends with its last byte, long before the time-out.
    m.SetTimeout(5000);
    const auto start = Clock::now();
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
    CWordArray many(125);
    EXPECT_EQ(m.ReadOutputRegisters(1, 0, 125, many), 0);
    EXPECT_EQ(many[9], 0x1109);
    EXPECT_EQ(m.ReadOutputRegisters(1, 9999, 2, values), 0x8002);
    EXPECT_LT(MillisSince(start), 2000);

    CoRevokeClassObject(dwCookie);
}

TEST_P(SerialPort, FaultsGiveTheirStatuses) {
    const LONG EXCEPTION = ServerStatus(0x8002);
    const LONG TIMEOUT = ServerStatus(MODBUS_TIMEOUT);
    const LONG CRC = ServerStatus(MODBUS_CRC_ERROR);
    struct Case {
        const char* pszFault;
        LONG nRtuStatus;
        LONG nAsciiStatus;
    };
    const Case cases[] = {
        {"exception=2@next=1", EXCEPTION, EXCEPTION},
        {"no-answer@next=1", TIMEOUT, TIMEOUT},
        {"delay=500@next=1", TIMEOUT, TIMEOUT},
        {"bad-crc@next=1", CRC, CRC},
        {"cut-short=3@next=1", CRC, CRC},
        {"bad-length=2@next=1", CRC, CRC},
        // A pause inside a frame ends it in RTU; ASCII waits for CR LF.
        {"gap=60@next=1", CRC, 0},
        // Junk ahead of a frame spoils RTU; ASCII skips it up to ':'.
        {"garbage=4@next=1", CRC, 0},
        {"extra-bytes=5@next=1", 0, 0},
        {"delay=50@next=1", 0, 0},
        {"wrong-unit@next=1", 0, 0},
    };
    const CByteArray request{1, 3, 0, 2, 0, 2};
    // Long enough for the rest of a broken answer to arrive and go.
    m_pPort->put_ErrorDelay(120);
    for (const Case& c : cases) {
        m_sim.AddFault(Rule(c.pszFault));
        CExchange x = Transfer(m_pPort, request);
        EXPECT_EQ(x.m_hr, S_OK) << c.pszFault;
        EXPECT_EQ(x.m_nStatus, GetParam() == EMode::ASCII ? c.nAsciiStatus : c.nRtuStatus)
            << c.pszFault;
        EXPECT_TRUE(x.m_bArray) << c.pszFault;
        // The answer as the device sent it: its unit is the master's to judge.
        const CByteArray pdu(x.m_answer.begin() + (x.m_answer.empty() ? 0 : 1), x.m_answer.end());
        const CByteArray expected = x.m_nStatus == 0 ? CByteArray{3, 4, 0x11, 0x02, 0x11, 0x03}
                                    : x.m_nStatus == EXCEPTION ? CByteArray{0x83, 2}
                                                               : CByteArray{};
        EXPECT_EQ(pdu, expected) << c.pszFault;
        if (x.m_nStatus == TIMEOUT) {
            // A late answer must not pass for the next one.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        // Whatever went wrong, the next exchange is clean: nothing left of
        // the last answer passes for this one.
        x = Transfer(m_pPort, {1, 3, 0, 4, 0, 2});
        EXPECT_EQ(x.m_nStatus, 0) << "after " << c.pszFault;
        EXPECT_EQ(x.m_answer, (CByteArray{1, 3, 4, 0x11, 0x04, 0x11, 0x05})) << c.pszFault;
    }
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
    const CExchange x = Transfer(m_pPort, {1, 3, 0, 0, 0, 1});
    stopper.join();
    EXPECT_EQ(x.m_nStatus, ServerStatus(MODBUS_READ_ERROR));
    EXPECT_LT(MillisSince(start), 2000);
    VARIANT_BOOL bActive = VARIANT_TRUE;
    m_pPort->get_Active(&bActive);
    EXPECT_EQ(bActive, VARIANT_FALSE);
    EXPECT_EQ(Transfer(m_pPort, {1, 3, 0, 0, 0, 1}).m_nStatus,
              ServerStatus(MODBUS_PORT_NOT_OPENED));
    EXPECT_TRUE(log.Contains(m_sim.GetPath() + " went away; the port is closed"));

    VARIANT_BOOL bOpen = VARIANT_TRUE;
    m_pPort->Connect(&bOpen);
    EXPECT_EQ(bOpen, VARIANT_FALSE);  // the old one is gone for good
    // The device is back under another name: Connect takes it, and what
    // the line cannot do as asked reaches the log.
    ASSERT_TRUE(m_sim.StartPty());
    m_pPorts->GetMap().SetPath(1, m_sim.GetPath());
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

TEST_P(SerialPort, GatewayForALibmodbusMaster) {
    modbus_t* pCtx = modbus_new_tcp("127.0.0.1", int(StartGateway()));
    ASSERT_NE(pCtx, nullptr);
    modbus_set_response_timeout(pCtx, 2, 0);
    ASSERT_EQ(modbus_connect(pCtx), 0);
    modbus_set_slave(pCtx, 1);
    uint16_t registers[10] = {};
    ASSERT_EQ(modbus_read_registers(pCtx, 3, 10, registers), 10);
    EXPECT_EQ(registers[9], 0x110C);
    const uint16_t values[3] = {1, 2, 3};
    EXPECT_EQ(modbus_write_registers(pCtx, 41, 3, values), 3);
    EXPECT_EQ(m_device.GetHoldingRegister(43), 3);

    // The device's exception passes through; the gateway's own say why the
    // line gave nothing.
    EXPECT_EQ(modbus_read_registers(pCtx, 9999, 2, registers), -1);
    EXPECT_EQ(errno, EMBXILADD);
    for (const char* pszFault : {"no-answer@next=1", "bad-crc@next=1"}) {
        m_sim.AddFault(Rule(pszFault));
        EXPECT_EQ(modbus_read_registers(pCtx, 0, 1, registers), -1);
        EXPECT_EQ(errno, EMBXGTAR) << pszFault;
    }
    m_pPorts->GetPort(1)->Close();
    EXPECT_EQ(modbus_read_registers(pCtx, 0, 1, registers), -1);
    EXPECT_EQ(errno, EMBXGPATH);
    modbus_close(pCtx);
    modbus_free(pCtx);
}

TEST_P(SerialPort, GatewayForRawClients) {
    const LONG nPort = StartGateway();
    // Six clients at once, whose requests the line takes one at a time; then
    // two more that never send one fill the eight places.
    std::vector<std::unique_ptr<CRawClient>> clients;
    for (BYTE i = 0; i < 6; ++i) {
        clients.push_back(std::make_unique<CRawClient>(nPort));
        ASSERT_TRUE(clients.back()->m_bConnected);
    }
    for (BYTE i = 0; i < 6; ++i) {
        clients[i]->Send(Mbap(0x100 + i, {0x01, 0x03, 0x00, i, 0x00, 0x01}));
    }
    for (BYTE i = 0; i < 6; ++i) {
        EXPECT_EQ(clients[i]->Receive(11, 3000), Mbap(0x100 + i, {0x01, 0x03, 0x02, 0x11, i}));
    }
    for (BYTE i = 1; i < 6; ++i) {
        clients[i]->Send(Mbap(0x200 + i, {0x01, 0x03, 0x00, i, 0x00, 0x01}));
        EXPECT_EQ(clients[i]->Receive(11, 3000), Mbap(0x200 + i, {0x01, 0x03, 0x02, 0x11, i}));
    }
    for (int i = 0; i < 2; ++i) {
        clients.push_back(std::make_unique<CRawClient>(nPort));
        ASSERT_TRUE(clients.back()->m_bConnected);
    }
    // A newcomer at the limit takes the place of a client that never sent a
    // request, the oldest first, however long ago the others spoke; once
    // every client has spoken, that of the one idle longest.
    std::vector<std::unique_ptr<CRawClient>> extras;
    for (const size_t nGone : {6, 7, 0}) {
        extras.push_back(std::make_unique<CRawClient>(nPort));
        CRawClient& extra = *extras.back();
        const WORD wId = static_cast<WORD>(0x300 + nGone);
        extra.Send(Mbap(wId, {0x01, 0x03, 0x00, 0x01, 0x00, 0x01}));
        EXPECT_EQ(extra.Receive(11, 3000), Mbap(wId, {0x01, 0x03, 0x02, 0x11, 0x01}));
        EXPECT_TRUE(clients[nGone]->Receive(1, 2000).empty());
        EXPECT_TRUE(clients[nGone]->m_bClosed) << "client " << nGone;
        for (const auto* pList : {&clients, &extras}) {
            for (const auto& pClient : *pList) {
                if (pClient != clients[nGone] && !pClient->m_bClosed) {
                    EXPECT_TRUE(pClient->Receive(1, 20).empty());
                    EXPECT_FALSE(pClient->m_bClosed) << "with client " << nGone;
                }
            }
        }
    }
    extras.clear();
    clients.erase(clients.begin() + 6, clients.end());
    clients.erase(clients.begin());

    VARIANT_BOOL bResult = VARIANT_FALSE;
    m_pGateway->Stop(&bResult);
    clients[0]->Receive(1, 2000);
    EXPECT_TRUE(clients[0]->m_bClosed);
    m_pGateway->get_Running(&bResult);
    EXPECT_EQ(bResult, VARIANT_FALSE);
    EXPECT_FALSE(CRawClient(nPort).m_bConnected);

    // It starts again where it was, and a second start finds it running;
    // requests may come in pieces or several at once.
    for (int i = 0; i < 2; ++i) {
        m_pGateway->Start(&bResult);
        EXPECT_EQ(bResult, VARIANT_TRUE);
    }
    CRawClient client(nPort);
    const CByteArray request = Mbap(0x0102, {0x01, 0x03, 0x00, 0x05, 0x00, 0x01});
    for (int nFrom = 0; int nTo : {3, 8, 12}) {
        client.Send(CByteArray(request.begin() + nFrom, request.begin() + nTo));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        nFrom = nTo;
    }
    EXPECT_EQ(client.Receive(11, 2000), Mbap(0x0102, {0x01, 0x03, 0x02, 0x11, 0x05}));
    CByteArray two = Mbap(7, {0x01, 0x04, 0x00, 0x00, 0x00, 0x01});
    const CByteArray second = Mbap(8, {0x01, 0x06, 0x00, 0x09, 0x12, 0x34});
    two.insert(two.end(), second.begin(), second.end());
    client.Send(two);
    CByteArray expected = Mbap(7, {0x01, 0x04, 0x02, 0x22, 0x00});
    expected.insert(expected.end(), second.begin(), second.end());  // the echo
    EXPECT_EQ(client.Receive(expected.size(), 2000), expected);

    // A broadcast is carried out and not answered.
    client.Send(Mbap(9, {0x00, 0x06, 0x00, 0x0A, 0x00, 0x2A}));
    EXPECT_TRUE(client.Receive(1, 300).empty());
    EXPECT_EQ(m_device.GetHoldingRegister(10), 0x2A);

    // A header no Modbus/TCP client sends ends the connection.
    client.Send({0, 1, 0, 5, 0, 6, 1, 3, 0, 0, 0, 1});
    client.Receive(1, 2000);
    EXPECT_TRUE(client.m_bClosed);
}

TEST_P(SerialPort, GatewayDisconnectsIdleClients) {
    CTcpGateway::SetIdleTimeout(std::chrono::milliseconds(400));
    const LONG nPort = StartGateway();
    CRawClient silent(nPort);
    CRawClient busy(nPort);
    ASSERT_TRUE(silent.m_bConnected && busy.m_bConnected);
    // Requests keep a client; a half-sent one does not count.
    silent.Send({0x00, 0x01, 0x00});
    const auto start = Clock::now();
    for (WORD i = 0; i < 10; ++i) {
        busy.Send(Mbap(i, {0x01, 0x03, 0x00, 0x02, 0x00, 0x01}));
        EXPECT_EQ(busy.Receive(11, 2000), Mbap(i, {0x01, 0x03, 0x02, 0x11, 0x02}));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(silent.Receive(1, 2000).empty());
    EXPECT_TRUE(silent.m_bClosed);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(400));
    busy.Send(Mbap(11, {0x01, 0x03, 0x00, 0x02, 0x00, 0x01}));
    EXPECT_EQ(busy.Receive(11, 2000), Mbap(11, {0x01, 0x03, 0x02, 0x11, 0x02}));
    EXPECT_FALSE(busy.m_bClosed);
    CTcpGateway::SetIdleTimeout(std::chrono::seconds(ModbusGateway::DEFAULT_IDLE_SECONDS));
}

// A master polling every 200 ms while a peer opens 50 silent connections a
// second and leaves them open: the churn only ever takes its own places.
class GatewayChurn : public SerialPort {};

TEST_P(GatewayChurn, KeepsAPollingMaster) {
    const LONG nPort = StartGateway();
    std::atomic<bool> bStop{false};
    int nOpened = 0, nDropped = 0;
    const auto churnStart = Clock::now();
    std::thread churner([&] {
        std::vector<std::unique_ptr<CRawClient>> open;
        // At most ten seconds.
        for (int i = 0; i < 500 && !bStop; ++i) {
            std::this_thread::sleep_until(churnStart + i * std::chrono::milliseconds(20));
            for (auto it = open.begin(); it != open.end();) {
                pollfd p{(*it)->m_hSocket, POLLIN, 0};
                const bool bGone = ::poll(&p, 1, 0) > 0;
                nDropped += bGone ? 1 : 0;
                it = bGone ? open.erase(it) : std::next(it);
            }
            open.push_back(std::make_unique<CRawClient>(nPort));
            nOpened += open.back()->m_bConnected ? 1 : 0;
        }
    });
    // The places are the churn's before the master comes.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    modbus_t* pCtx = modbus_new_tcp("127.0.0.1", int(nPort));
    ASSERT_NE(pCtx, nullptr);
    modbus_set_response_timeout(pCtx, 1, 0);
    modbus_set_slave(pCtx, 1);
    int nPolls = 0, nOk = 0;
    if (modbus_connect(pCtx) == 0) {
        const auto pollStart = Clock::now();
        for (; nPolls < 25; ++nPolls) {
            std::this_thread::sleep_until(pollStart + nPolls * std::chrono::milliseconds(200));
            uint16_t registers[2] = {};
            nOk += modbus_read_registers(pCtx, 4, 2, registers) == 2 && registers[1] == 0x1105;
        }
    }
    bStop = true;
    churner.join();
    const double dRate = nOpened * 1000.0 / double(MillisSince(churnStart));
    modbus_close(pCtx);
    modbus_free(pCtx);
    std::printf("gateway churn: %d of %d polls answered; %.1f connections/s churned, %d dropped\n",
                nOk, nPolls, dRate, nDropped);
    RecordProperty("PollsAnswered", nOk);
    RecordProperty("ChurnPerSecond", int(dRate));
    EXPECT_EQ(nPolls, 25);
    EXPECT_EQ(nOk, nPolls);
    // The churn did fight for the places: all but the last few were dropped.
    EXPECT_GE(dRate, 40.0);
    EXPECT_GE(nDropped, nOpened - int(CTcpGateway::MAX_CONNECTIONS) - 2);
}

INSTANTIATE_TEST_SUITE_P(Rtu, GatewayChurn, testing::Values(EMode::RTU),
                         [](const testing::TestParamInfo<EMode>&) { return "Rtu"; });

INSTANTIATE_TEST_SUITE_P(Modes, SerialPort, testing::Values(EMode::RTU, EMode::ASCII),
                         [](const testing::TestParamInfo<EMode>& info) {
                             return info.param == EMode::RTU ? "Rtu" : "Ascii";
                         });

TEST(SerialPortObject, SettingsAreSharedPerPortAndChecked) {
    auto pPorts = std::make_shared<CSerialPorts>(CPortMap());
    IModbusSerialPort* pFirst = new CSerialPortObject(pPorts);
    IModbusSerialPort* pSecond = new CSerialPortObject(pPorts);
    LONG nValue = 0;
    pFirst->get_Port(&nValue);
    EXPECT_EQ(nValue, 1);  // before any SelectPort
    // What one object puts, the other reads, each setting in its own place.
    for (HRESULT hr :
         {pFirst->put_BaudRate(256000), pFirst->put_Parity(3), pFirst->put_FlowControl(6),
          pFirst->put_StopBits(2), pFirst->put_ByteSize(7), pFirst->put_Mode(1),
          pFirst->put_Timeout(700), pFirst->put_SilentInterval(8), pFirst->put_ErrorDelay(5)}) {
        EXPECT_EQ(hr, S_OK);
    }
    auto read = [&]<typename T>(HRESULT (IModbusSerialPort::*get)(T*)) {
        T value = -1;
        (pSecond->*get)(&value);
        return LONG(value);
    };
    using I = IModbusSerialPort;
    EXPECT_EQ((std::vector<LONG>{read(&I::get_BaudRate), read(&I::get_Parity),
                                 read(&I::get_FlowControl), read(&I::get_StopBits),
                                 read(&I::get_ByteSize), read(&I::get_Mode), read(&I::get_Timeout),
                                 read(&I::get_SilentInterval), read(&I::get_ErrorDelay)}),
              (std::vector<LONG>{256000, 3, 6, 2, 7, 1, 700, 8, 5}));
    for (HRESULT hr : {pFirst->put_Parity(4), pFirst->put_StopBits(3), pFirst->put_ByteSize(6),
                       pFirst->put_Mode(2), pFirst->put_BaudRate(50), pFirst->put_Timeout(0),
                       pFirst->put_FlowControl(8), pFirst->put_Port(9)}) {
        EXPECT_EQ(hr, E_INVALIDARG);
    }

    for (const char* pszName : {"cOm3", "com9", "com0", "tty1", "com12", ""}) {
        BSTR bstrName = AllocBstr(pszName);
        SHORT nBound = -1;
        pSecond->SelectPort(bstrName, 1, &nBound);
        SysFreeString(bstrName);
        EXPECT_EQ(nBound, pszName == std::string("cOm3") ? 1 : 0) << pszName;
    }
    pSecond->get_Port(&nValue);
    EXPECT_EQ(nValue, 3);
    pSecond->get_BaudRate(&nValue);
    EXPECT_EQ(nValue, 9600);  // COM3 keeps its own
    EXPECT_EQ(pSecond->put_Port(1), S_OK);

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

    // Not open, or malformed: always an array back.
    CExchange x = Transfer(pFirst, {1, 3, 0, 0, 0, 1});
    EXPECT_EQ(x.m_nStatus, ServerStatus(MODBUS_PORT_NOT_OPENED));
    EXPECT_TRUE(x.m_bArray);
    x = Transfer(pFirst, {1});
    EXPECT_EQ(x.m_hr, E_INVALIDARG);
    EXPECT_TRUE(x.m_bArray);

    EXPECT_FALSE(pPorts->IsIdle());
    pFirst->Release();
    pSecond->Release();
    EXPECT_TRUE(pPorts->IsIdle());
}
}  // namespace
