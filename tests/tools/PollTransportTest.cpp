// regprobe-poll over RTU over TCP and Modbus/UDP, against the simulator
// speaking only that transport: given on the command line, and as a record
// of that kind saved in Regpr.cfg. Over TLS, against a server that asks for
// the client's certificate: an encrypted key's passphrase from a file, and
// refused where nobody can be asked.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "connections/ConfigFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TlsTestFiles.h"
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

    // The simulator serving strTransport; false when it did not start.
    bool StartSim(const std::string& strTransport) {
        Lines argv = {REGPROBE_SIM_PROGRAM, "--listen",  "127.0.0.1:0", "--transport",
                      strTransport,         "--holding", "0=11,22,33"};
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

    CTempDir m_dir;
    CChildProcess m_sim;
    std::string m_strPort;
};

class PollEachTransport : public PollTransport, public testing::WithParamInterface<CTransport> {};

TEST_P(PollEachTransport, ReadsGivenHereAndAsASavedRecord) {
    const CTransport& t = GetParam();
    ASSERT_TRUE(StartSim(t.pszName));
    const Lines options = {"--transport", t.pszName, "--port", m_strPort, "--timeout", "3000"};
    int nStatus = -1;
    Lines lines = Poll(options, &nStatus);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(lines.at(0), kValues);

    CConnections connections;
    CRemoteModbus* pModbus = connections.Add("dev", t.nType)->GetRemoteModbus();
    ASSERT_NE(pModbus, nullptr);
    pModbus->SetHost("127.0.0.1");
    pModbus->SetPort(WORD(std::stoi(m_strPort)));
    pModbus->SetTimeout(3000);
    const std::string strConfig = m_dir.Path() + "/Regpr.cfg";
    ASSERT_TRUE(SaveConnections(connections, strConfig));
    connections.RemoveAll();
    lines = Poll({"--config", strConfig, "--connection", "dev"}, &nStatus);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(lines.at(0), kValues);
}

INSTANTIATE_TEST_SUITE_P(Transports, PollEachTransport,
                         testing::Values(CTransport{"rtu-over-tcp", CONNECTION_RTU_OVER_TCP},
                                         CTransport{"udp", CONNECTION_UDP}),
                         [](const testing::TestParamInfo<CTransport>& info) {
                             return info.param.nType == CONNECTION_UDP ? "Udp" : "RtuOverTcp";
                         });

// Standard input is not a terminal here. A connection that is made, to a
// server that answers no Modbus, shows as a read that got no answer.
TEST_F(PollTransport, AnEncryptedKeysPassphraseComesFromAFile) {
    CTlsTestFiles files;
    ASSERT_TRUE(files.Made());
    CTlsTestServer server(files);
    ASSERT_FALSE(server.Port().empty());
    const std::string strKey = files.Path("client.key");
    const std::string strPass = m_dir.Path() + "/pass";
    std::ofstream(strPass) << CTlsTestFiles::PASSPHRASE << "\nnot this line\n";
    const Lines options = {"--transport", "tls",
                           "--port",      server.Port(),
                           "--timeout",   "500",
                           "--ca",        files.Path("ca.pem"),
                           "--cert",      files.Path("client.pem"),
                           "--key",       strKey};
    const std::string strNoAnswer = "Socket Error: no answer within 500 ms (";
    int nStatus = -1;
    Lines lines = Poll(options, &nStatus);
    EXPECT_EQ(nStatus, 1);
    EXPECT_EQ(lines, Lines{"regprobe-poll: the key " + strKey +
                           " is encrypted; give its passphrase with --key-passphrase-file FILE"});

    Lines withFile = options;
    withFile.insert(withFile.end(), {"--key-passphrase-file", strPass});
    lines = Poll(withFile, &nStatus);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind(strNoAnswer, 0), 0u) << lines[0];

    // A saved record with that key takes the same file.
    CConnections connections;
    auto* pTls =
        dynamic_cast<CTlsModbus*>(connections.Add("dev", CONNECTION_TLS)->GetRemoteModbus());
    ASSERT_NE(pTls, nullptr);
    pTls->SetHost("127.0.0.1");
    pTls->SetPort(WORD(std::stoi(server.Port())));
    pTls->SetTimeout(500);
    pTls->SetCaFile(files.Path("ca.pem"));
    pTls->SetCertFile(files.Path("client.pem"));
    pTls->SetKeyFile(strKey);
    const std::string strConfig = m_dir.Path() + "/Regpr.cfg";
    ASSERT_TRUE(SaveConnections(connections, strConfig));
    connections.RemoveAll();
    lines = Poll({"--config", strConfig, "--connection", "dev", "--key-passphrase-file", strPass},
                 &nStatus);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind(strNoAnswer, 0), 0u) << lines[0];
}

}  // namespace
