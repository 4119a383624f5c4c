// Publishing to a real Mosquitto broker that the tests start: the bounded
// queue of one client, then regprobe-poll with a reads file of two devices
// (and one that is not there), the retained status and the will, a broker
// that goes away for 5 s, and TLS with certificates made at run time; and
// the broker's address and the reads file as they are written.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <ostream>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "publish/MqttPublisher.h"
#include "publish/MqttTarget.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "tools/ReadsFile.h"

namespace {
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using Messages = std::vector<CMqttSubscriber::CMessage>;

size_t CountTopic(const Messages& messages, const std::string& strTopic) {
    return size_t(std::count_if(messages.begin(), messages.end(),
                                [&](const auto& m) { return m.strTopic == strTopic; }));
}

// The last message on the topic; empty when none came.
std::string Last(const Messages& messages, const std::string& strTopic) {
    for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
        if (it->strTopic == strTopic) {
            return it->strPayload;
        }
    }
    return std::string();
}

TEST(MqttPublisher, KeepsTheNewestWithinItsBoundAndTheStatusToo) {
    CMqttBroker broker;
    ASSERT_TRUE(broker.Start());
    broker.Stop();  // its port, with nobody there yet

    CMqttSettings settings;
    settings.nPort = broker.Port();
    settings.nQueueLimit = 10;
    CMqttPublisher publisher(settings);
    std::string strError;
    ASSERT_TRUE(publisher.Start(strError)) << strError;
    publisher.Publish("t/status", "up", true);
    for (int i = 0; i < 100; ++i) {
        publisher.Publish("t/v", std::to_string(i), false);
    }
    CMqttPublisher::CCounts counts = publisher.Counts();
    EXPECT_EQ(counts.nDropped, 91u);
    EXPECT_EQ(counts.nWaiting, 10u);

    ASSERT_TRUE(broker.Restart());
    CMqttSubscriber subscriber(broker.Port(), "t/#");
    ASSERT_TRUE(subscriber.WaitFor([&](const Messages&) { return subscriber.Connected(); }, 5s));
    // The publisher's first try again comes a second after its first.
    ASSERT_TRUE(publisher.Flush(10s));
    ASSERT_TRUE(subscriber.WaitFor([](const Messages& m) { return m.size() >= 10; }, 5s));
    Lines values;
    for (const auto& m : subscriber.Messages()) {
        if (m.strTopic == "t/v") {
            values.push_back(m.strPayload);
        }
    }
    EXPECT_EQ(values, (Lines{"91", "92", "93", "94", "95", "96", "97", "98", "99"}));
    EXPECT_EQ(Last(subscriber.Messages(), "t/status"), "up");
    EXPECT_EQ(publisher.Counts().nAcknowledged, 10u);
}

// A broker, two simulated devices and the poller publishing their reads.
class PublishProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(broker.Start());
        m_strPort1 = StartSim(m_sim1, {"--holding", "0=11,22"});
        m_strPort2 = StartSim(m_sim2, {"--coils", "0=1,0,1,1"});
        ASSERT_FALSE(m_strPort1.empty());
        ASSERT_FALSE(m_strPort2.empty());
    }

    static std::string StartSim(CChildProcess& sim, Lines options) {
        const std::string strPrefix = "listening on 127.0.0.1:";
        options.insert(options.begin(), {REGPROBE_SIM_PROGRAM, "--listen", "127.0.0.1:0"});
        std::string strLine;
        if (!sim.Start(options) || !sim.ReadLine(strLine, 10000) ||
            strLine.rfind(strPrefix, 0) != 0) {
            return "";
        }
        return strLine.substr(strPrefix.size());
    }

    // The poller on the reads of strReads, publishing under "plant".
    void StartPoller(const std::string& strReads, Lines options) {
        const std::string strFile = m_dir.WriteFile("panel.reads", strReads, 0600);
        Lines argv{REGPROBE_POLL_PROGRAM, "--reads", strFile, "--publish",
                   "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + "/plant"};
        argv.insert(argv.end(), options.begin(), options.end());
        ASSERT_TRUE(m_poller.Start(argv, true));
    }

    // The poller's closing line ("... N messages delivered, D dropped, L
    // left") once it ended, and its exit status.
    std::string Summary(int* pnStatus) {
        std::string strLine;
        std::string strSummary;
        for (int i = 0; i < 1000 && m_poller.ReadLine(strLine, 15000); ++i) {
            if (strLine.find("messages delivered") != std::string::npos) {
                strSummary = strLine;
            }
            m_lines.push_back(strLine);
        }
        *pnStatus = m_poller.Wait(5000);
        return strSummary;
    }

    std::string Device1() const { return "127.0.0.1:" + m_strPort1; }
    std::string Device2() const { return "127.0.0.1:" + m_strPort2; }

    CMqttBroker broker;
    CTempDir m_dir;
    CChildProcess m_sim1;
    CChildProcess m_sim2;
    CChildProcess m_poller;
    Lines m_lines;  // what the poller printed
    std::string m_strPort1;
    std::string m_strPort2;
};

TEST_F(PublishProgram, EachValueOfEachReadIsAMessageUnderItsOwnTopic) {
    CMqttSubscriber subscriber(broker.Port(), "plant/#");
    ASSERT_TRUE(subscriber.WaitFor([&](const Messages&) { return subscriber.Connected(); }, 5s));
    // 127.0.0.1:1 is where nothing listens: its reads fail.
    StartPoller(
        "# two devices and one that is not there\n"
        "tcp:" +
            Device1() +
            "  1 holding 0 2 uint16 20\n"
            "tcp:" +
            Device2() +
            "  7 coils   0 4 uint16 30  # four bits\n"
            "tcp:127.0.0.1:1 1 holding 0 1 uint16 20\n",
        {"--count", "2"});
    int nStatus = -1;
    EXPECT_NE(Summary(&nStatus).find(" 0 dropped, 0 left"), std::string::npos);
    EXPECT_EQ(nStatus, 1);  // the reads that failed

    ASSERT_TRUE(subscriber.WaitFor(
        [&](const Messages& m) {
            return CountTopic(m, "plant/" + Device2() + "/7/coils/3") == 2 &&
                   CountTopic(m, "plant/" + Device1() + "/1/holding/1") == 2;
        },
        5s));
    const Messages messages = subscriber.Messages();
    std::set<std::string> topics;
    for (const auto& m : messages) {
        topics.insert(m.strTopic);
    }
    const std::string p1 = "plant/" + Device1();
    const std::string p2 = "plant/" + Device2();
    EXPECT_EQ(topics, (std::set<std::string>{p1 + "/1/holding/0", p1 + "/1/holding/1",
                                             p1 + "/status", p2 + "/7/coils/0", p2 + "/7/coils/1",
                                             p2 + "/7/coils/2", p2 + "/7/coils/3", p2 + "/status",
                                             "plant/127.0.0.1:1/status"}));
    const std::regex value1(
        R"(\{"time":"[-0-9T:.]+Z","connection":"127\.0\.0\.1:\d+","device":1,"function":"holding",)"
        R"("type":"uint16","ok":true,"status":"Ok","read_ms":[0-9.]+,"address":1,"value":22\})");
    EXPECT_TRUE(std::regex_match(Last(messages, p1 + "/1/holding/1"), value1))
        << Last(messages, p1 + "/1/holding/1");
    EXPECT_NE(Last(messages, p2 + "/7/coils/2").find("\"address\":2,\"value\":1}"),
              std::string::npos);
    EXPECT_NE(Last(messages, p2 + "/7/coils/1").find("\"address\":1,\"value\":0}"),
              std::string::npos);
    // Each connection's status: online while it read, offline once stopped;
    // the one that failed offline from its first read, with why.
    EXPECT_EQ(CountTopic(messages, p1 + "/status"), 2u);
    EXPECT_EQ(Last(messages, p1 + "/status"), R"({"state":"offline","status":"poller stopped"})");
    for (const auto& m : messages) {
        if (m.strTopic == "plant/127.0.0.1:1/status") {
            EXPECT_NE(m.strPayload.find(R"("state":"offline")"), std::string::npos);
            EXPECT_NE(m.strPayload.find("connect"), std::string::npos) << m.strPayload;
            break;
        }
    }
}

TEST_F(PublishProgram, TheStatusIsRetainedAndTheWillTellsOfALostPoller) {
    StartPoller("tcp:" + Device1() + " 1 holding 0 2 uint16 100\n", {});
    const std::string strStatus = "plant/" + Device1() + "/status";
    {
        // A subscriber that comes later is given the status as it stands.
        CMqttSubscriber first(broker.Port(), "plant/#");
        ASSERT_TRUE(
            first.WaitFor([&](const Messages& m) { return CountTopic(m, strStatus) > 0; }, 10s));
    }
    CMqttSubscriber late(broker.Port(), strStatus);
    ASSERT_TRUE(late.WaitFor([](const Messages& m) { return !m.empty(); }, 5s));
    EXPECT_TRUE(late.Messages()[0].bRetain);
    EXPECT_NE(late.Messages()[0].strPayload.find(R"({"state":"online","status":"Ok")"),
              std::string::npos);

    m_poller.Signal(SIGKILL);
    EXPECT_EQ(m_poller.Wait(5000), 128 + SIGKILL);
    ASSERT_TRUE(late.WaitFor([](const Messages& m) { return m.size() >= 2; }, 10s));
    EXPECT_EQ(late.Messages()[1].strPayload, R"({"state":"offline","status":"poller lost"})");
    CMqttSubscriber after(broker.Port(), strStatus);
    ASSERT_TRUE(after.WaitFor([](const Messages& m) { return !m.empty(); }, 5s));
    EXPECT_EQ(after.Messages()[0].strPayload, R"({"state":"offline","status":"poller lost"})");
}

// The broker away for 5 s: within the queue's bound every message comes
// once it is back; beyond it the oldest are dropped, and counted.
struct CAwayCase {
    const char* pszQueue;
    bool bDrops;
};

void PrintTo(const CAwayCase& c, std::ostream* pOut) {
    *pOut << "--queue " << c.pszQueue;
}

class BrokerAway : public PublishProgram, public ::testing::WithParamInterface<CAwayCase> {};

TEST_P(BrokerAway, NothingIsLostWithinTheBoundAndDropsAreCountedBeyond) {
    CMqttSubscriber subscriber(broker.Port(), "plant/#");
    ASSERT_TRUE(subscriber.WaitFor([&](const Messages&) { return subscriber.Connected(); }, 5s));
    // While the broker is away, a line each second says so.
    CScopedEnv every("REGPROBE_POLL_REPORT_MS", "1000");
    StartPoller("tcp:" + Device1() + " 1 holding 0 2 uint16 20\n",
                {"--queue", GetParam().pszQueue, "--flush-timeout", "10000"});
    ASSERT_TRUE(subscriber.WaitFor([](const Messages& m) { return m.size() >= 10; }, 10s));
    broker.Stop();
    std::this_thread::sleep_for(5s);
    ASSERT_TRUE(broker.Restart());
    // Back, the subscriber within 20 ms and the poller after its pause
    // (seconds): values read before the poller is back come with it.
    ASSERT_TRUE(subscriber.WaitFor([&](const Messages&) { return subscriber.Connected(); }, 5s));
    const size_t nBefore = subscriber.Messages().size();
    ASSERT_TRUE(
        subscriber.WaitFor([&](const Messages& m) { return m.size() >= nBefore + 300; }, 20s));
    // The restarted broker forgot the status; the poller, back, told it again.
    CMqttSubscriber late(broker.Port(), "plant/+/status");
    ASSERT_TRUE(late.WaitFor([](const Messages& m) { return !m.empty(); }, 5s));
    EXPECT_NE(late.Messages()[0].strPayload.find(R"({"state":"online")"), std::string::npos);
    m_poller.Signal(SIGTERM);
    int nStatus = -1;
    const std::string strSummary = Summary(&nStatus);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(strSummary, match,
                                  std::regex(R"((\d+) messages delivered, (\d+) dropped, 0 left)")))
        << strSummary;
    const std::regex away(
        "regprobe-poll: MQTT 127\\.0\\.0\\.1:\\d+ for " + Device1() +
        R"(: broker away for [1-9]\d* s \(.+\), \d+ messages waiting, \d+ dropped)");
    EXPECT_TRUE(std::any_of(m_lines.begin(), m_lines.end(),
                            [&](const std::string& s) { return std::regex_match(s, away); }));
    const size_t nDelivered = std::stoul(match[1]);
    const size_t nDropped = std::stoul(match[2]);
    EXPECT_EQ(nDropped > 0, GetParam().bDrops) << strSummary;
    EXPECT_EQ(nStatus, GetParam().bDrops ? 1 : 0);
    // Every message delivered arrived, a value once at least. The status
    // went again once the poller was back; the broker, going, published the
    // will, which the poller did not send.
    size_t nArrived = 0;
    subscriber.WaitFor(
        [&](const Messages& m) {
            std::set<std::string> values;
            size_t nStatuses = 0;
            for (const auto& message : m) {
                if (message.strTopic.find("/status") == std::string::npos) {
                    values.insert(message.strTopic + " " + message.strPayload);
                } else if (message.strPayload.find("poller lost") == std::string::npos) {
                    ++nStatuses;
                }
            }
            nArrived = values.size() + nStatuses;
            return nArrived >= nDelivered;
        },
        10s);
    EXPECT_EQ(nArrived, nDelivered);
    EXPECT_EQ(Last(subscriber.Messages(), "plant/" + Device1() + "/status"),
              R"({"state":"offline","status":"poller stopped"})");
}

INSTANTIATE_TEST_SUITE_P(Queue, BrokerAway,
                         ::testing::Values(CAwayCase{"100000", false}, CAwayCase{"20", true}));

// TLS to a broker that asks for the client's certificate: the broker's is
// checked against --mqtt-ca.
struct CTlsCase {
    const char* pszCa;
    bool bDelivered;
};

void PrintTo(const CTlsCase& c, std::ostream* pOut) {
    *pOut << c.pszCa;
}

class PublishTls : public PublishProgram, public ::testing::WithParamInterface<CTlsCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_certs.Ok());
        m_tls = {m_certs.Path("ca.pem"), m_certs.Path("device.pem"), m_certs.Path("device.key")};
        m_client = {m_certs.Path("ca.pem"), m_certs.Path("client.pem"), m_certs.Path("client.key")};
        ASSERT_TRUE(broker.Start(&m_tls));
        m_strPort1 = StartSim(m_sim1, {"--holding", "0=11,22"});
        ASSERT_FALSE(m_strPort1.empty());
    }

    const CTestCertificates& m_certs = CTestCertificates::Shared();
    CMqttBroker::CTls m_tls;
    CMqttBroker::CTls m_client;
};

TEST_P(PublishTls, ValuesGoOnlyToTheBrokerOfTheCa) {
    CMqttSubscriber subscriber(broker.Port(), "plant/#", &m_client);
    ASSERT_TRUE(subscriber.WaitFor([&](const Messages&) { return subscriber.Connected(); }, 5s));
    const std::string strFile =
        m_dir.WriteFile("one.reads", "tcp:" + Device1() + " 1 holding 0 2 uint16 20\n", 0600);
    ASSERT_TRUE(m_poller.Start(
        {REGPROBE_POLL_PROGRAM, "--reads", strFile, "--count", "3", "--publish",
         "mqtts://127.0.0.1:" + std::to_string(broker.Port()) + "/plant", "--mqtt-ca",
         m_certs.Path(GetParam().pszCa), "--mqtt-cert", m_certs.Path("client.pem"), "--mqtt-key",
         m_certs.Path("client.key"), "--flush-timeout", "3000"},
        true));
    const auto tStart = std::chrono::steady_clock::now();
    int nStatus = -1;
    const std::string strSummary = Summary(&nStatus);
    const auto elapsed = std::chrono::steady_clock::now() - tStart;
    const std::string strTopic = "plant/" + Device1() + "/1/holding/1";
    if (GetParam().bDelivered) {
        EXPECT_NE(strSummary.find("delivered, 0 dropped, 0 left"), std::string::npos) << strSummary;
        EXPECT_EQ(nStatus, 0);
        EXPECT_TRUE(subscriber.WaitFor(
            [&](const Messages& m) { return CountTopic(m, strTopic) == 3; }, 5s));
    } else {
        EXPECT_NE(strSummary.find("0 messages delivered"), std::string::npos) << strSummary;
        EXPECT_EQ(nStatus, 1);
        // Three reads, then --flush-timeout for a broker that never took us.
        EXPECT_GE(elapsed, 3s);
        EXPECT_LT(elapsed, 6s);
        EXPECT_EQ(CountTopic(subscriber.Messages(), strTopic), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Ca, PublishTls,
                         ::testing::Values(CTlsCase{"ca.pem", true},
                                           CTlsCase{"other-ca.pem", false}));

// How the broker's address is read: what it gives, or why it is refused.
struct CTargetCase {
    const char* pszUrl;
    const char* pszExpected;  // "tls user host port prefix", or the refusal's end
};

void PrintTo(const CTargetCase& c, std::ostream* pOut) {
    *pOut << c.pszUrl;
}

class TargetText : public ::testing::TestWithParam<CTargetCase> {};

TEST_P(TargetText, IsReadOrRefused) {
    CMqttTarget target;
    std::string strError;
    const std::string strGot = ParseMqttTarget(GetParam().pszUrl, target, strError)
                                   ? std::to_string(target.bTls) + " " + target.strUser + " " +
                                         target.strHost + " " + std::to_string(target.nPort) + " " +
                                         target.strPrefix
                                   : strError.substr(strError.find(": ") + 2);
    EXPECT_EQ(strGot.substr(0, std::string(GetParam().pszExpected).size()), GetParam().pszExpected)
        << strGot;
}

INSTANTIATE_TEST_SUITE_P(
    Urls, TargetText,
    ::testing::Values(CTargetCase{"mqtt://broker.example/plant", "0  broker.example 1883 plant"},
                      CTargetCase{"mqtts://op@10.0.0.2:9883/a/b", "1 op 10.0.0.2 9883 a/b"},
                      CTargetCase{"mqtt://[::1]:1884/p", "0  ::1 1884 p"},
                      CTargetCase{"http://h/p", "no mqtt:// or mqtts://"},
                      CTargetCase{"mqtt://h", "no topic prefix"},
                      CTargetCase{"mqtt://h:0/p", "the port must be 1-65535"},
                      CTargetCase{"mqtt://h:1x/p", "the port must be 1-65535"},
                      CTargetCase{"mqtt:///p", "no host"},
                      CTargetCase{"mqtt://h/a/#", "a prefix holds no '+' or '#'"},
                      CTargetCase{"mqtt://h/a//b", "a prefix has no empty level"}));

TEST(TopicLevel, NamesCannotMakeLevelsOrWildcards) {
    EXPECT_EQ(TopicLevel("hall/2 +#\x01"), "hall_2 ___");
    EXPECT_EQ(TopicLevel(""), "_");
}

// A reads file: the line at fault is named, and what is wrong with it.
struct CReadsCase {
    const char* pszText;
    const char* pszError;  // empty: it is read
};

void PrintTo(const CReadsCase& c, std::ostream* pOut) {
    *pOut << c.pszText;
}

class ReadsText : public ::testing::TestWithParam<CReadsCase> {};

TEST_P(ReadsText, NamesTheLineAtFault) {
    std::vector<CReadLine> reads;
    std::string strError;
    const bool bOk = ParseReads(GetParam().pszText, "r", reads, strError);
    EXPECT_EQ(strError, GetParam().pszError);
    EXPECT_EQ(bOk, strError.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadsText,
    ::testing::Values(
        CReadsCase{"# c\n\n\"hall 2\" 3 coils 0x10 16 uint16 250 # x\n", ""},
        CReadsCase{"# only a comment\n", "r: no reads"},
        CReadsCase{"x 1 holding 0 1 uint16 0\nx 1 holding 0 1 uint16\n",
                   "r:2: a read has 7 fields (CONNECTION DEVICE FUNCTION ADDRESS QUANTITY TYPE "
                   "INTERVAL_MS), not 6"},
        CReadsCase{"tcp:h 1 holding 0 1 uint16 0\n",
                   "r:1: 'tcp:h' needs HOST:PORT, the port 1-65535"},
        CReadsCase{"udp:h:70000 1 holding 0 1 uint16 0\n",
                   "r:1: 'udp:h:70000' needs HOST:PORT, the port 1-65535"},
        CReadsCase{"x 256 holding 0 1 uint16 0\n", "r:1: DEVICE must be 0-255, not '256'"},
        CReadsCase{"x 1 holding 0 1 uint16 10001\n",
                   "r:1: INTERVAL_MS must be 0-10000, not '10001'"},
        CReadsCase{"x 1 registers 0 1 uint16 0\n", "r:1: unknown function 'registers'"},
        CReadsCase{"x 1 holding 0 1 int128 0\n", "r:1: unknown type 'int128'"},
        CReadsCase{"\"x 1 holding 0 1 uint16 0\n", "r:1: a quote is not closed"}));

}  // namespace
