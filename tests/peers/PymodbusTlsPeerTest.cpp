// The Modbus/TCP Security master against pymodbus's TLS server (which
// requires client certificates) in a child process, with the contents of
// pymodbus_peer.py: requests as the peer received them, what came back, and
// a client it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestCertificates.h"
#include "transport/TlsModbus.h"

namespace {
const CTestCertificates& Certs() {
    return CTestCertificates::Shared();
}

constexpr DWORD TIMEOUT_MS = 3000;

class PymodbusTlsPeer : public testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/python3", X_OK) != 0) {
            GTEST_SKIP() << "no /usr/bin/python3";
        }
        ASSERT_TRUE(Certs().Ok()) << "openssl could not make the test certificates";
        ASSERT_TRUE(
            m_peer.Start({"/usr/bin/python3", REGPROBE_PYMODBUS_PEER, "tls", Certs().Path("ca.pem"),
                          Certs().Path("device.pem"), Certs().Path("device.key")}));
        std::string strLine;
        ASSERT_TRUE(m_peer.ReadLine(strLine, 20000)) << "the pymodbus server did not start";
        if (strLine.rfind("skip ", 0) == 0) {
            GTEST_SKIP() << strLine;
        }
        ASSERT_EQ(strLine.rfind("port ", 0), 0u) << strLine;
        m_nPort = static_cast<WORD>(std::stoi(strLine.substr(5)));
        m_master.SetCaFile(Certs().Path("ca.pem"));
        m_master.SetCertFile(Certs().Path("client.pem"));
        m_master.SetKeyFile(Certs().Path("client.key"));
    }
    // The next request the peer reports, as hex.
    std::string NextFrame() {
        std::string strLine;
        if (!m_peer.ReadLine(strLine, 5000)) {
            return "(none)";
        }
        return strLine.rfind("frame ", 0) == 0 ? strLine.substr(6) : strLine;
    }

    CChildProcess m_peer;
    WORD m_nPort = 0;
    CTlsModbus m_master;
};

// The framing of every function is the Modbus/TCP master's, checked byte for
// byte in TrafficCaptureTest and against libmodbus; here pymodbus's server
// takes a read and a write with its read-back through one session. Its
// holding register i is i * 7919 + 13.
TEST_F(PymodbusTlsPeer, ThePeerGetsTheFramesAndAnswers) {
    ASSERT_TRUE(m_master.Connect("127.0.0.1", m_nPort, TIMEOUT_MS)) << m_master.GetLastCause();
    CWordArray values(2);
    ASSERT_EQ(m_master.ReadOutputRegisters(1, 2, 2, values), 0);
    EXPECT_EQ(values, (CWordArray{15851, 23770}));
    ASSERT_EQ(m_master.PresetMultipleRegisters(1, 20, 2, {0x1111, 0x2222}), 0);
    ASSERT_EQ(m_master.ReadOutputRegisters(1, 20, 2, values), 0);
    EXPECT_EQ(values, (CWordArray{0x1111, 0x2222}));
    for (const char* pszFrame : {"000000000006010300020002", "00000000000b0110001400020411112222",
                                 "000000000006010300140002"}) {
        EXPECT_EQ(NextFrame(), pszFrame);
    }
}

TEST_F(PymodbusTlsPeer, AClientWithoutACertificateIsRefused) {
    m_master.SetCertFile(CString());
    m_master.SetKeyFile(CString());
    EXPECT_FALSE(m_master.Connect("127.0.0.1", m_nPort, TIMEOUT_MS));
    const CString strWhere = "127.0.0.1:" + std::to_string(m_nPort) + ": ";
    // pymodbus's server closes without the alert that would say why.
    EXPECT_EQ(m_master.GetLastCause(),
              strWhere +
                  "the device closed the connection: it asked for our certificate "
                  "(none given)");
    EXPECT_FALSE(m_master.IsConnected());
}
}  // namespace
