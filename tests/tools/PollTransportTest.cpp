// regprobe-poll over RTU over TCP, Modbus/UDP and TLS, against the
// simulator speaking only that transport: given on the command line with
// the transport's options, and as a record of that kind saved in
// Regpr.cfg; an encrypted key's passphrase from a file, and refused where
// nobody can be asked.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "connections/ConfigFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "transport/RemoteModbus.h"
#include "transport/TlsModbus.h"

namespace {
using Lines = std::vector<std::string>;

const char kValues[] = "[0]=11 0xb [1]=22 0x16 [2]=33 0x21";

struct CTransport {
    const char* pszName;
    WORD nType;
};

void PrintTo(const CTransport& t, std::ostream* pOut) {
    *pOut << t.pszName;
}

class PollTransport : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_dir.Path().empty()); }

    // The simulator serving strTransport (for tls with the device's
    // certificate, requiring the client's); false when it did not start.
    bool StartSim(const std::string& strTransport) {
        Lines argv = {REGPROBE_SIM_PROGRAM, "--listen",  "127.0.0.1:0", "--transport",
                      strTransport,         "--holding", "0=11,22,33"};
        if (strTransport == "tls") {
            m_pCerts = std::make_unique<CTestCertificates>();
            if (!m_pCerts->Ok()) {
                return false;
            }
            argv.insert(argv.end(), {"--tls-cert", Cert("device.pem"), "--tls-key",
                                     Cert("device.key"), "--tls-ca", Cert("ca.pem")});
        }
        const std::string strPrefix = "listening on 127.0.0.1:";
        std::string strLine;
        if (!m_sim.Start(argv) || !m_sim.ReadLine(strLine, 10000) ||
            strLine.rfind(strPrefix, 0) != 0) {
            return false;
        }
        m_strPort = strLine.substr(strPrefix.size());
        return true;
    }

    // Every line the poller prints, standard error too, and its status.
    static Lines Poll(const Lines& options, int* pnStatus) {
        Lines argv = {REGPROBE_POLL_PROGRAM, "--once", "--quantity", "3"};
        argv.insert(argv.end(), options.begin(), options.end());
        CChildProcess poll;
        EXPECT_TRUE(poll.Start(argv, true));
        Lines lines;
        std::string strLine;
        while (lines.size() < 20 && poll.ReadLine(strLine, 10000)) {
            lines.push_back(strLine);
        }
        *pnStatus = poll.Wait(10000);
        return lines;
    }

    std::string Cert(const std::string& strName) const { return m_pCerts->Path(strName); }
    // The poller's options for the simulator: for tls the client's files,
    // with the key named.
    Lines Options(const std::string& strTransport, const std::string& strKey = "client.key") {
        Lines options = {"--transport", strTransport, "--port", m_strPort, "--timeout", "3000"};
        if (strTransport == "tls") {
            options.insert(options.end(), {"--ca", Cert("ca.pem"), "--cert", Cert("client.pem"),
                                           "--key", Cert(strKey)});
        }
        return options;
    }
    // A record of the kind for the simulator in strConfig.
    void Save(WORD nType, const std::string& strKey, const std::string& strConfig) {
        CConnections connections;
        CRemoteModbus* pModbus = connections.Add("dev", nType)->GetRemoteModbus();
        ASSERT_NE(pModbus, nullptr);
        pModbus->SetHost("127.0.0.1");
        pModbus->SetPort(WORD(std::stoi(m_strPort)));
        pModbus->SetTimeout(3000);
        if (auto* pTls = dynamic_cast<CTlsModbus*>(pModbus)) {
            pTls->SetCaFile(Cert("ca.pem"));
            pTls->SetCertFile(Cert("client.pem"));
            pTls->SetKeyFile(Cert(strKey));
        }
        ASSERT_TRUE(SaveConnections(connections, strConfig));
    }

    CTempDir m_dir;
    std::unique_ptr<CTestCertificates> m_pCerts;
    CChildProcess m_sim;
    std::string m_strPort;
};

class PollEachTransport : public PollTransport, public testing::WithParamInterface<CTransport> {};

TEST_P(PollEachTransport, ReadsGivenHereAndAsASavedRecord) {
    const CTransport& t = GetParam();
    ASSERT_TRUE(StartSim(t.pszName));
    int nStatus = -1;
    Lines lines = Poll(Options(t.pszName), &nStatus);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(lines.at(0), kValues);

    const std::string strConfig = m_dir.Path() + "/Regpr.cfg";
    Save(t.nType, "client.key", strConfig);
    lines = Poll({"--config", strConfig, "--connection", "dev"}, &nStatus);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(lines.at(0), kValues);
}

INSTANTIATE_TEST_SUITE_P(Transports, PollEachTransport,
                         testing::Values(CTransport{"rtu-over-tcp", CONNECTION_RTU_OVER_TCP},
                                         CTransport{"udp", CONNECTION_UDP},
                                         CTransport{"tls", CONNECTION_TLS}),
                         [](const testing::TestParamInfo<CTransport>& info) {
                             return info.param.nType == CONNECTION_RTU_OVER_TCP ? "RtuOverTcp"
                                    : info.param.nType == CONNECTION_UDP        ? "Udp"
                                                                                : "Tls";
                         });

// Standard input is not a terminal here: the passphrase comes from the
// file's first line, given here or for a saved record, and without the
// file the program says how to give it.
TEST_F(PollTransport, AnEncryptedKeysPassphraseComesFromAFile) {
    ASSERT_TRUE(StartSim("tls"));
    const Lines options = Options("tls", "client-enc.key");
    int nStatus = -1;
    Lines lines = Poll(options, &nStatus);
    EXPECT_EQ(nStatus, 1);
    EXPECT_EQ(lines, Lines{"regprobe-poll: the key " + Cert("client-enc.key") +
                           " is encrypted; give its passphrase with --key-passphrase-file FILE"});

    const std::string strPass = m_dir.Path() + "/pass";
    std::ofstream(strPass) << CTestCertificates::PASSPHRASE << "\nnot this line\n";
    Lines withFile = options;
    withFile.insert(withFile.end(), {"--key-passphrase-file", strPass});
    lines = Poll(withFile, &nStatus);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(lines.at(0), kValues);

    const std::string strConfig = m_dir.Path() + "/Regpr.cfg";
    Save(CONNECTION_TLS, "client-enc.key", strConfig);
    lines = Poll({"--config", strConfig, "--connection", "dev", "--key-passphrase-file", strPass},
                 &nStatus);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(lines.at(0), kValues);
}

}  // namespace
