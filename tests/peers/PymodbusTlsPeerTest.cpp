// The Modbus/TCP Security master against pymodbus's TLS server (which
// requires client certificates) in a child process, with the contents of
// pymodbus_peer.py: every function's request as the peer received it, and
// what came back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestCertificates.h"
#include "transport/TlsModbus.h"

namespace {
const CTestCertificates& Certs() {
    return CTestCertificates::Shared();
}

constexpr DWORD TIMEOUT_MS = 3000;

template <typename T>
std::string Joined(const std::vector<T>& values) {
    std::string str;
    for (const T& v : values) {
        str += (str.empty() ? "" : ",") + std::to_string(v);
    }
    return str;
}

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

struct SFunctionCase {
    const char* pszName;
    // Runs the function (and reads back what it wrote): "status: values".
    std::function<std::string(CModbus& m)> run;
    std::string strResult;
    std::vector<std::string> frames;
};

class PymodbusTlsFunction : public PymodbusTlsPeer,
                            public testing::WithParamInterface<SFunctionCase> {};

std::string Bits(CModbus& m, bool bCoils, WORD wAt, WORD wCount) {
    CByteArray states(wCount);
    const WORD w = bCoils ? m.ReadOutputStatus(1, wAt, wCount, states)
                          : m.ReadInputStatus(1, wAt, wCount, states);
    return std::to_string(w) + ": " + Joined(states);
}

std::string Registers(CModbus& m, bool bHolding, WORD wAt, WORD wCount) {
    CWordArray values(wCount);
    const WORD w = bHolding ? m.ReadOutputRegisters(1, wAt, wCount, values)
                            : m.ReadInputRegisters(1, wAt, wCount, values);
    return std::to_string(w) + ": " + Joined(values);
}

// A write's status, then what reading back gave.
std::string Then(WORD wWritten, const std::function<std::string()>& readBack) {
    return std::to_string(wWritten) + readBack();
}

TEST_P(PymodbusTlsFunction, ThePeerGetsTheFrameAndAnswers) {
    const SFunctionCase& c = GetParam();
    ASSERT_TRUE(m_master.Connect("127.0.0.1", m_nPort, TIMEOUT_MS)) << m_master.GetLastCause();
    EXPECT_EQ(c.run(m_master), c.strResult);
    for (const std::string& strFrame : c.frames) {
        EXPECT_EQ(NextFrame(), strFrame);
    }
}

// The peer's coils are set at every third address, its discrete inputs at
// i % 5 in {1, 2}, holding register i is i * 7919 + 13 and input register i
// is i * 40503 + 101 (16 bits).
const SFunctionCase kFunctionCases[] = {
    {"ReadCoils",
     [](CModbus& m) { return Bits(m, true, 10, 5); },
     "0: 0,0,1,0,0",
     {"0000000000060101000a0005"}},
    {"ReadDiscreteInputs",
     [](CModbus& m) { return Bits(m, false, 0, 6); },
     "0: 0,1,1,0,0,0",
     {"000000000006010200000006"}},
    {"ReadHoldingRegisters",
     [](CModbus& m) { return Registers(m, true, 2, 2); },
     "0: 15851,23770",
     {"000000000006010300020002"}},
    {"ReadInputRegisters",
     [](CModbus& m) { return Registers(m, false, 1, 1); },
     "0: 40604",
     {"000000000006010400010001"}},
    {"WriteSingleCoil",
     [](CModbus& m) {
         return Then(m.ForceSingleCoil(1, 4, 1), [&m] { return Bits(m, true, 4, 1); });
     },
     "00: 1",
     {"00000000000601050004ff00", "000000000006010100040001"}},
    {"WriteSingleRegister",
     [](CModbus& m) {
         return Then(m.PresetSingleRegister(1, 7, 0xBEEF),
                     [&m] { return Registers(m, true, 7, 1); });
     },
     "00: 48879",
     {"00000000000601060007beef", "000000000006010300070001"}},
    {"Diagnostics",
     [](CModbus& m) { return std::to_string(m.LoopbackTest(1)); },
     "0",
     {"00000000000601080000a537"}},
    {"WriteMultipleRegisters",
     [](CModbus& m) {
         return Then(m.PresetMultipleRegisters(1, 20, 2, {0x1111, 0x2222}),
                     [&m] { return Registers(m, true, 20, 2); });
     },
     "00: 4369,8738",
     {"00000000000b0110001400020411112222", "000000000006010300140002"}},
};
INSTANTIATE_TEST_SUITE_P(Functions, PymodbusTlsFunction, testing::ValuesIn(kFunctionCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

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
