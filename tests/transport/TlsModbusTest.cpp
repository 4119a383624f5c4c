// The Modbus/TCP Security master against the simulator's TLS side, with
// certificates the test makes: who refuses what, and in which words; the
// passphrase of a protected key; deadlines; the record.
#include <gtest/gtest.h>

#include <chrono>

#include "sim/SimTcpServer.h"
#include "sim/SimTls.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/Serialized.h"
#include "tests/support/SimRule.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/Timing.h"
#include "transport/TlsModbus.h"

namespace {
const CTestCertificates& Certs() {
    return CTestCertificates::Shared();
}

using Clock = std::chrono::steady_clock;

constexpr DWORD TIMEOUT_MS = 3000;
constexpr WORD UNIT = 1;

class TlsModbusTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Certs().Ok()) << "openssl could not make the test certificates";
        m_device.SetHoldingRegister(0, 7);
        m_device.SetHoldingRegister(1, 8);
    }
    static std::string File(const std::string& strName) {
        return strName.empty() ? std::string() : Certs().Path(strName);
    }
    // Serves the device inside TLS with strCert (plain Modbus/TCP when
    // empty), requiring clients signed by ca.pem.
    void StartDevice(const std::string& strCert) {
        if (!strCert.empty()) {
            auto pTls = std::make_shared<CSimTls>();
            CString strError;
            ASSERT_TRUE(pTls->Load(File(strCert), File("device.key"), File("ca.pem"), strError))
                << strError;
            m_server.SetTls(pTls);
        }
        ASSERT_TRUE(m_server.Start()) << m_server.GetError();
    }
    static void SetFiles(CTlsModbus& master, const std::string& strCert,
                         const std::string& strKey) {
        master.SetCaFile(File("ca.pem"));
        master.SetCertFile(File(strCert));
        master.SetKeyFile(File(strKey));
    }
    CString Where(const CString& strHost = "127.0.0.1") const {
        return strHost + ":" + std::to_string(m_server.GetPort()) + ": ";
    }

    CSimDevice m_device;
    CSimTcpServer m_server{m_device};
};

struct SConnectCase {
    const char* pszName;
    const char* pszDeviceCert;  // empty: a plain Modbus/TCP device
    const char* pszHost;
    const char* pszClientCert;
    const char* pszClientKey;
    const char* pszPassphrase;
    const char* pszCause;  // empty: connects and exchanges
};

class TlsConnect : public TlsModbusTest, public testing::WithParamInterface<SConnectCase> {};

TEST_P(TlsConnect, RefusesWithTheCauseOrExchanges) {
    const SConnectCase& c = GetParam();
    StartDevice(c.pszDeviceCert);
    CTlsModbus master;
    SetFiles(master, c.pszClientCert, c.pszClientKey);
    master.SetKeyPassphrase(c.pszPassphrase);
    const BOOL bConnected = master.Connect(c.pszHost, m_server.GetPort(), TIMEOUT_MS);
    CWordArray values(2);
    if (*c.pszCause != '\0') {
        EXPECT_FALSE(bConnected);
        EXPECT_EQ(master.GetLastCause(), Where(c.pszHost) + c.pszCause);
        EXPECT_EQ(master.ReadOutputRegisters(UNIT, 0, 2, values), REMOTE_NOT_CONNECTED);
        EXPECT_EQ(m_server.GetRequestCount(), 0u);
        return;
    }
    ASSERT_TRUE(bConnected) << master.GetLastCause();
    ASSERT_EQ(master.ReadOutputRegisters(UNIT, 0, 2, values), MODBUS_OK);
    EXPECT_EQ(values, (CWordArray{7, 8}));
    EXPECT_EQ(master.PresetSingleRegister(UNIT, 5, 0x1234), MODBUS_OK);
    EXPECT_EQ(m_device.GetValue(CSimDevice::Table::HoldingRegisters, 5), 0x1234);
}

const SConnectCase kConnectCases[] = {
    {"Good", "device.pem", "127.0.0.1", "client.pem", "client.key", "", ""},
    {"GoodByName", "device.pem", "localhost", "client.pem", "client.key", "", ""},
    {"KeyUnderPassphrase", "device.pem", "127.0.0.1", "client.pem", "client-enc.key", "secret", ""},
    {"DeviceByOtherCa", "device-other-ca.pem", "127.0.0.1", "client.pem", "client.key", "",
     "the device's certificate is not signed by the CA in ca.pem"},
    {"DeviceExpired", "device-expired.pem", "127.0.0.1", "client.pem", "client.key", "",
     "the device's certificate has expired"},
    {"DeviceForOtherAddress", "device-other-name.pem", "127.0.0.1", "client.pem", "client.key", "",
     "the device's certificate is for other.example, not 127.0.0.1"},
    {"DeviceForOtherName", "device-other-name.pem", "localhost", "client.pem", "client.key", "",
     "the device's certificate is for other.example, not localhost"},
    {"NoClientCertificate", "device.pem", "127.0.0.1", "", "", "",
     "the device refused our certificate (none given)"},
    {"ClientByOtherCa", "device.pem", "127.0.0.1", "client-other-ca.pem", "client.key", "",
     "the device refused our certificate (not signed by a CA it trusts)"},
    {"ClientExpired", "device.pem", "127.0.0.1", "client-expired.pem", "client.key", "",
     "the device refused our certificate (expired)"},
    {"KeyWithoutPassphrase", "device.pem", "127.0.0.1", "client.pem", "client-enc.key", "",
     "the private key client-enc.key needs a passphrase"},
    {"WrongPassphrase", "device.pem", "127.0.0.1", "client.pem", "client-enc.key", "guess",
     "wrong passphrase for the private key client-enc.key"},
    {"KeyOfAnotherCertificate", "device.pem", "127.0.0.1", "client.pem", "device.key", "",
     "the private key device.key does not belong to the certificate client.pem"},
    {"PlainModbusTcpDevice", "", "127.0.0.1", "client.pem", "client.key", "",
     "the device closed the connection during the secure handshake"},
};
INSTANTIATE_TEST_SUITE_P(Cases, TlsConnect, testing::ValuesIn(kConnectCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST_F(TlsModbusTest, KeyNeedsPassphraseTellsAProtectedKey) {
    EXPECT_TRUE(CTlsModbus::KeyNeedsPassphrase(File("client-enc.key")));
    EXPECT_FALSE(CTlsModbus::KeyNeedsPassphrase(File("client.key")));
    EXPECT_FALSE(CTlsModbus::KeyNeedsPassphrase(File("no-such.key")));
}

TEST_F(TlsModbusTest, ReconnectingPerRequestShakesHandsInEachExchange) {
    StartDevice("device.pem");
    CTlsModbus master;
    SetFiles(master, "client.pem", "client.key");
    master.SetHost("127.0.0.1");
    master.SetPort(m_server.GetPort());
    master.SetTimeout(TIMEOUT_MS);
    master.SetReconnect(TRUE);
    CWordArray values(2);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(master.ReadOutputRegisters(UNIT, 0, 2, values), MODBUS_OK)
            << master.GetLastCause();
    }
    EXPECT_EQ(values, (CWordArray{7, 8}));
    EXPECT_TRUE(WaitUntil([this] { return m_server.GetConnectionCount() == 3; }, 1000));

    // Refused, the exchange says why however late the device tells it.
    SetFiles(master, "", "");
    EXPECT_NE(master.ReadOutputRegisters(UNIT, 0, 2, values), MODBUS_OK);
    EXPECT_EQ(master.GetLastCause(), Where() + "the device refused our certificate (none given)");
    EXPECT_EQ(m_server.GetRequestCount(), 3u);
}

TEST_F(TlsModbusTest, ASilentDeviceEndsTheHandshakeByTheDeadline) {
    CListener silent;  // connections wait in its backlog, never answered
    CTlsModbus master;
    SetFiles(master, "client.pem", "client.key");
    const CString strCause = "127.0.0.1:" + std::to_string(silent.Port()) +
                             ": the secure handshake did not finish within 300 ms";
    auto start = Clock::now();
    EXPECT_FALSE(master.Connect("127.0.0.1", silent.Port(), 300));
    auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(800));
    EXPECT_EQ(master.GetLastCause(), strCause);

    // Reconnecting per request, the handshake is part of the exchange's time.
    master.SetReconnect(TRUE);
    CWordArray values(1);
    start = Clock::now();
    EXPECT_EQ(master.ReadOutputRegisters(UNIT, 0, 1, values), REMOTE_NOT_CONNECTED);
    took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(800));
    EXPECT_EQ(master.GetLastCause(), strCause);
}

TEST_F(TlsModbusTest, ALateAnswerEndsTheExchangeByItsDeadline) {
    StartDevice("device.pem");
    m_server.AddFault(Rule("delay=1500@request=2"));
    CTlsModbus master;
    SetFiles(master, "client.pem", "client.key");
    ASSERT_TRUE(master.Connect("127.0.0.1", m_server.GetPort(), 300)) << master.GetLastCause();
    CWordArray values(2);
    ASSERT_EQ(master.ReadOutputRegisters(UNIT, 0, 2, values), MODBUS_OK);
    const auto start = Clock::now();
    EXPECT_EQ(master.ReadOutputRegisters(UNIT, 0, 2, values), REMOTE_SOCKET_ERROR);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(600));
    EXPECT_TRUE(master.LastExchangeTimedOut());
    EXPECT_EQ(master.GetLastCause(), Where() + "no answer within 300 ms");
}

TEST_F(TlsModbusTest, AnAdoptedConnectionKeepsItsSession) {
    StartDevice("device.pem");
    CTlsModbus dialogs;
    SetFiles(dialogs, "client.pem", "client.key");
    ASSERT_TRUE(dialogs.Connect("127.0.0.1", m_server.GetPort(), TIMEOUT_MS));
    CTlsModbus record;
    record.AdoptConnection(dialogs);
    EXPECT_FALSE(dialogs.IsConnected());
    CWordArray values(2);
    EXPECT_EQ(record.ReadOutputRegisters(UNIT, 0, 2, values), MODBUS_OK);
    EXPECT_EQ(values, (CWordArray{7, 8}));
    EXPECT_EQ(m_server.GetConnectionCount(), 1u);
}

TEST_F(TlsModbusTest, TheRecordIsTheTcpMastersThenTheFilesNeverThePassphrase) {
    WORD nClosedPort = 0;
    const int hBound = ListenLoopback(-1, &nClosedPort);  // refuses at once
    CTlsModbus tls;
    CRemoteModbus tcp;
    for (CRemoteModbus* p : {static_cast<CRemoteModbus*>(&tls), &tcp}) {
        p->SetHost("127.0.0.1");
        p->SetPort(nClosedPort);
        p->SetTimeout(1234);
    }
    EXPECT_EQ(CTlsModbus().GetPort(), CTlsModbus::DEFAULT_PORT);
    tls.SetCaFile("/etc/ca.pem");
    tls.SetCertFile("me.pem");
    tls.SetKeyFile("me.key");
    tls.SetKeyPassphrase("do-not-store");
    const CByteArray stored = Stored(tls);
    CByteArray expected = Stored(tcp);
    for (const char* psz : {"/etc/ca.pem", "me.pem", "me.key"}) {
        const CString str = psz;
        expected.push_back(static_cast<BYTE>(str.size()));
        expected.insert(expected.end(), str.begin(), str.end());
    }
    EXPECT_EQ(stored, expected);

    CMemFile file(stored);
    CArchive ar(&file, CArchive::load);
    CTlsModbus loaded;
    loaded.Load(ar, CModbus::ELoad::VALUES_ONLY);
    EXPECT_EQ(loaded.GetPort(), nClosedPort);
    EXPECT_EQ(loaded.GetTimeout(), 1234u);
    EXPECT_EQ(loaded.GetCaFile(), "/etc/ca.pem");
    EXPECT_EQ(loaded.GetCertFile(), "me.pem");
    EXPECT_EQ(loaded.GetKeyFile(), "me.key");
    EXPECT_FALSE(loaded.IsConnected());
    ::close(hBound);
}
}  // namespace
