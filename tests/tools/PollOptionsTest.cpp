// regprobe-poll's option table walked entry by entry: each option sets its
// own fields and no other, each is in --help and each option line of --help
// is parsed; then the rules that tie options together after the parse.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/PollOptions.h"

namespace {

using Fields = std::map<std::string, std::string>;

Fields Dump(const CPollOptions& o) {
    auto n = [](long n) { return std::to_string(n); };
    const CMqttTarget& t = o.publish;
    const std::string strTarget =
        n(t.bTls) + " " + t.strUser + "@" + t.strHost + ":" + n(t.nPort) + "/" + t.strPrefix;
    return {{"config", o.strConfig},
            {"connection", o.strConnection},
            {"workspace", o.strWorkspace},
            {"window", n(o.nWindow)},
            {"formOption", o.strFormOption},
            {"transport", o.strTransport},
            {"transportGiven", n(o.bTransportGiven)},
            {"host", o.strHost},
            {"port", n(o.nPort)},
            {"portGiven", n(o.bPortGiven)},
            {"ca", o.strCaFile},
            {"cert", o.strCertFile},
            {"key", o.strKeyFile},
            {"keyPassphraseFile", o.strKeyPassphraseFile},
            {"timeout", n(o.nTimeout)},
            {"reconnect", n(o.bReconnect)},
            {"tries", n(o.nTries)},
            {"triesGiven", n(o.bTriesGiven)},
            {"addressGiven", n(o.bAddressGiven)},
            {"device", n(o.nDevice)},
            {"function", o.strFunction},
            {"address", n(o.nAddress)},
            {"quantity", n(o.nQuantity)},
            {"type", o.strType},
            {"interval", n(o.nInterval)},
            {"count", n(o.nCount)},
            {"countGiven", n(o.bCountGiven)},
            {"once", n(o.bOnce)},
            {"write", n(o.bWrite)},
            {"writeValue", o.strWriteValue},
            {"writeFunction", o.strWriteFunction},
            {"writeAddress", n(o.nWriteAddress)},
            {"format", o.strFormat},
            {"trace", n(o.bTrace)},
            {"quantityGiven", n(o.bQuantityGiven)},
            {"scanUnits", n(o.bScanUnits)},
            {"scanFirst", n(o.nScanFirst)},
            {"scanLast", n(o.nScanLast)},
            {"scanTimeout", n(o.nScanTimeout)},
            {"scanAddresses", n(o.bScanAddresses)},
            {"scanStep", n(o.nScanStep)},
            {"raw", n(o.bRaw)},
            {"rawPdu", std::string(o.rawPdu.begin(), o.rawPdu.end())},
            {"reads", o.strReads},
            {"publish", o.strPublish},
            {"publishTarget", strTarget},
            {"mqttCa", o.strMqttCaFile},
            {"mqttCert", o.strMqttCertFile},
            {"mqttKey", o.strMqttKeyFile},
            {"queue", n(o.nQueue)},
            {"flushTimeout", n(o.nFlushTimeout)}};
}

// Each option with a value (none for a flag) and the fields it changes.
const std::map<std::string, std::pair<const char*, Fields>> kEffects = {
    {"--config", {"a.cfg", {{"config", "a.cfg"}}}},
    {"--connection", {"com1", {{"connection", "com1"}}}},
    {"--workspace", {"day.rpw", {{"workspace", "day.rpw"}}}},
    {"--window", {"0x2", {{"window", "2"}}}},
    {"--host", {"plc.invalid", {{"host", "plc.invalid"}, {"addressGiven", "1"}}}},
    {"--transport", {"rtu-over-tcp", {{"transport", "rtu-over-tcp"}, {"transportGiven", "1"}}}},
    {"--port", {"0x5DE", {{"port", "1502"}, {"addressGiven", "1"}, {"portGiven", "1"}}}},
    {"--ca", {"ca.pem", {{"ca", "ca.pem"}}}},
    {"--cert", {"client.pem", {{"cert", "client.pem"}}}},
    {"--key", {"client.key", {{"key", "client.key"}}}},
    {"--key-passphrase-file", {"pass", {{"keyPassphraseFile", "pass"}}}},
    {"--timeout", {"0xFFFFFFFF", {{"timeout", "4294967295"}, {"addressGiven", "1"}}}},
    {"--reconnect", {nullptr, {{"reconnect", "1"}, {"addressGiven", "1"}}}},
    {"--tries", {"7", {{"tries", "7"}, {"triesGiven", "1"}}}},
    {"--device", {"0", {{"device", "0"}, {"formOption", "--device"}}}},
    {"--function", {"coils", {{"function", "coils"}, {"formOption", "--function"}}}},
    {"--address", {"0x160", {{"address", "352"}, {"formOption", "--address"}}}},
    {"--quantity",
     {"0", {{"quantity", "0"}, {"quantityGiven", "1"}, {"formOption", "--quantity"}}}},
    {"--type", {"float64-dcba", {{"type", "float64-dcba"}, {"formOption", "--type"}}}},
    {"--interval", {"0", {{"interval", "0"}, {"formOption", "--interval"}}}},
    {"--count", {"3", {{"count", "3"}, {"countGiven", "1"}}}},
    {"--cycles", {"4", {{"count", "4"}, {"countGiven", "1"}}}},
    {"--once", {nullptr, {{"once", "1"}}}},
    {"--write", {"-5", {{"write", "1"}, {"writeValue", "-5"}, {"formOption", "--write"}}}},
    {"--write-function", {"coil", {{"writeFunction", "coil"}, {"formOption", "--write-function"}}}},
    {"--write-address", {"3", {{"writeAddress", "3"}, {"formOption", "--write-address"}}}},
    {"--format", {"json", {{"format", "json"}}}},
    {"--trace", {nullptr, {{"trace", "1"}}}},
    {"--scan-units", {"0x03-7", {{"scanUnits", "1"}, {"scanFirst", "3"}, {"scanLast", "7"}}}},
    {"--scan-timeout", {"200", {{"scanTimeout", "200"}}}},
    {"--scan-addresses", {nullptr, {{"scanAddresses", "1"}}}},
    {"--scan-step", {"0x10", {{"scanStep", "16"}}}},
    {"--raw", {"41 4a:62", {{"raw", "1"}, {"rawPdu", "AJb"}}}},
    {"--reads", {"panel.reads", {{"reads", "panel.reads"}}}},
    {"--publish",
     {"mqtts://op@b.invalid:9/p/q",
      {{"publish", "mqtts://op@b.invalid:9/p/q"}, {"publishTarget", "1 op@b.invalid:9/p/q"}}}},
    {"--mqtt-ca", {"ca.pem", {{"mqttCa", "ca.pem"}}}},
    {"--mqtt-cert", {"c.pem", {{"mqttCert", "c.pem"}}}},
    {"--mqtt-key", {"c.key", {{"mqttKey", "c.key"}}}},
    {"--queue", {"0x10", {{"queue", "16"}}}},
    {"--flush-timeout", {"0", {{"flushTimeout", "0"}}}}};

TEST(PollOptions, EachEntrySetsItsOwnFieldsAndIsInTheHelp) {
    CPollOptions unused;
    const std::string strHelp = PollHelp();
    std::set<std::string> names;
    for (const CCommandLine::CEntry& entry : PollOptionTable(unused)) {
        if (entry.pszName == nullptr) {
            continue;
        }
        const std::string strName = entry.pszName;
        names.insert(strName);
        const auto it = kEffects.find(strName);
        ASSERT_NE(it, kEffects.end()) << strName << " has no case here";
        const auto& [pszValue, changes] = it->second;
        EXPECT_EQ(entry.pszValue != nullptr, pszValue != nullptr) << strName;

        CPollOptions o;
        std::vector<const char*> argv = {"regprobe-poll", entry.pszName};
        if (pszValue != nullptr) {
            argv.push_back(pszValue);
        }
        CString strError;
        ASSERT_EQ(CCommandLine::Parse(int(argv.size()), argv.data(), PollOptionTable(o), strError),
                  CCommandLine::EResult::RUN)
            << strError;
        Fields want = Dump(CPollOptions());
        for (const auto& [strField, strValue] : changes) {
            want[strField] = strValue;
        }
        EXPECT_EQ(Dump(o), want) << strName;

        // Its own line "  --name VALUE  text", or named in another's text.
        const std::string strLine =
            "\n  " + strName + (pszValue != nullptr ? " " + std::string(entry.pszValue) : "") + " ";
        EXPECT_NE(strHelp.find(entry.pszHelp != nullptr ? strLine : " " + strName + " "),
                  std::string::npos)
            << strName;
    }
    EXPECT_EQ(names.size(), kEffects.size());

    // Every option line of the help is an option of the table, or --help.
    std::istringstream help(strHelp);
    for (std::string strLine; std::getline(help, strLine);) {
        if (strLine.rfind("  --", 0) == 0) {
            const std::string strName = strLine.substr(2, strLine.find(' ', 2) - 2);
            EXPECT_TRUE(names.count(strName) == 1 || strName == "--help") << strLine;
        }
    }
}

struct CRule {
    std::vector<const char*> args;
    const char* pszError;  // null: parsed, with the count and port below
    long nCount = 0;
    long nPort = 502;
};

void PrintTo(const CRule& rule, std::ostream* pOut) {
    for (const char* pszArg : rule.args) {
        *pOut << pszArg << ' ';
    }
}

class PollOptionRules : public ::testing::TestWithParam<CRule> {};

TEST_P(PollOptionRules, ApplyAfterTheParse) {
    std::vector<const char*> argv = GetParam().args;
    argv.insert(argv.begin(), "regprobe-poll");
    CPollOptions o;
    CString strError;
    const CCommandLine::EResult result =
        ParsePollOptions(int(argv.size()), argv.data(), o, strError);
    if (GetParam().pszError != nullptr) {
        EXPECT_EQ(result, CCommandLine::EResult::BAD);
        EXPECT_EQ(strError, GetParam().pszError);
    } else {
        EXPECT_EQ(result, CCommandLine::EResult::RUN) << strError;
        EXPECT_EQ(o.nCount, GetParam().nCount);
        EXPECT_EQ(o.nPort, GetParam().nPort);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PollOptionRules,
    ::testing::Values(
        CRule{{}, nullptr, -1}, CRule{{"--once"}, nullptr, 1}, CRule{{"--write", "1"}, nullptr, 0},
        CRule{{"--write", "1", "--cycles", "3"}, nullptr, 3},
        CRule{{"--write", "1", "--once"}, nullptr, 1},
        CRule{{"--config", "a", "--connection", "b", "--tries", "2"}, nullptr, -1},
        CRule{{"--config", "a"}, "--config and --connection go together"},
        CRule{{"--connection", "b"}, "--config and --connection go together"},
        CRule{{"--config", "a", "--connection", "b", "--reconnect"},
              "a saved connection brings its own address and time-out"},
        CRule{{"--host", "h.invalid", "--config", "a", "--connection", "b"},
              "a saved connection brings its own address and time-out"},
        CRule{{"--cycles", "2", "--once"}, "--once and --count exclude each other"},
        CRule{{"--scan-units", "1-5", "--scan-timeout", "100"}, nullptr, -1},
        CRule{{"--scan-units", "1-5", "--once"}, "a scan goes without --write, --once and --count"},
        CRule{{"--scan-units", "1-5", "--function", "loopback"},
              "a scan asks with a read, not loopback"},
        CRule{{"--scan-timeout", "100"}, "--scan-timeout goes with --scan-units"},
        CRule{{"--scan-addresses", "--scan-units", "1"},
              "one of --scan-units, --scan-addresses and --raw at a time"},
        CRule{{"--raw", "03", "--once"}, "--raw goes without --write, --once and --count"},
        CRule{{"--scan-addresses", "--count", "2"},
              "a scan goes without --write, --once and --count"},
        // Each transport's own port unless one is given.
        CRule{{"--transport", "rtu-over-tcp"}, nullptr, -1, 502},
        CRule{{"--transport", "udp", "--port", "1502"}, nullptr, -1, 1502},
        CRule{{"--transport", "tls", "--ca", "a", "--cert", "b", "--key", "c"}, nullptr, -1, 802},
        CRule{{"--port", "502", "--transport", "tls", "--ca", "a", "--cert", "b", "--key", "c",
               "--key-passphrase-file", "p"},
              nullptr,
              -1,
              502},
        CRule{{"--transport", "serial"},
              "unknown transport 'serial' for --transport: one of tcp, rtu-over-tcp, udp, tls"},
        CRule{{"--transport", "tls", "--ca", "a", "--key", "c"},
              "--transport tls needs --ca, --cert and --key"},
        CRule{{"--cert", "b"},
              "--ca, --cert, --key and --key-passphrase-file go with --transport tls"},
        CRule{{"--transport", "udp", "--key-passphrase-file", "p"},
              "--ca, --cert, --key and --key-passphrase-file go with --transport tls"},
        CRule{{"--config", "a", "--connection", "b", "--transport", "tcp"},
              "a saved connection brings its own transport and files"},
        CRule{{"--config", "a", "--connection", "b", "--key-passphrase-file", "p"}, nullptr, -1},
        CRule{{"--config", "a", "--connection", "b", "--ca", "x"},
              "a saved connection brings its own transport and files"},
        // Several reads, published.
        CRule{{"--reads", "r", "--config", "a", "--once"}, nullptr, 1},
        CRule{{"--reads", "r", "--port", "1502"},
              "--reads brings its own connections and reads: it goes without --connection, "
              "--host, --port, --transport, --write, scans and --raw"},
        CRule{{"--reads", "r", "--config", "a", "--connection", "b"},
              "--reads brings its own connections and reads: it goes without --connection, "
              "--host, --port, --transport, --write, scans and --raw"},
        CRule{{"--reads", "r", "--workspace", "w", "--window", "1"},
              "--reads goes without --workspace: a workspace's windows are read with --reads "
              "FILE.rpw"},
        CRule{{"--publish", "mqtt://h/p", "--scan-units", "1"},
              "--publish goes with reads, not with scans or --raw"},
        CRule{{"--publish", "mqtt://h/p", "--mqtt-ca", "ca"},
              "--mqtt-ca, --mqtt-cert and --mqtt-key go with --publish mqtts://..."},
        CRule{{"--publish", "mqtts://h/p", "--mqtt-cert", "c"},
              "--mqtt-cert and --mqtt-key go together"},
        CRule{
            {"--publish", "mqtts://h/p", "--mqtt-ca", "ca", "--mqtt-cert", "c", "--mqtt-key", "k"},
            nullptr,
            -1},
        CRule{{"--publish", "h/p"},
              "--publish needs mqtt://[user@]host[:port]/PREFIX or mqtts://...: no mqtt:// or "
              "mqtts:// in 'h/p'"},
        // A workspace's window brings the connection and what to read.
        CRule{{"--workspace", "w", "--window", "1", "--once", "--tries", "2",
               "--key-passphrase-file", "p"},
              nullptr,
              1},
        CRule{{"--workspace", "w"}, "--workspace and --window go together"},
        CRule{{"--window", "1"}, "--workspace and --window go together"},
        CRule{{"--workspace", "w", "--window", "0"},
              "--window needs a number from 1 to 9223372036854775807, not '0'"},
        CRule{{"--workspace", "w", "--window", "1", "--config", "a", "--connection", "b"},
              "--workspace brings its own connections: it goes without --config and --connection"},
        CRule{{"--workspace", "w", "--window", "1", "--port", "1502"},
              "the window's connection brings its own address, transport and files"},
        CRule{{"--workspace", "w", "--window", "1", "--cert", "c"},
              "the window's connection brings its own address, transport and files"},
        CRule{{"--workspace", "w", "--window", "1", "--type", "float", "--device", "2"},
              "the window says what to read: --workspace goes without --type"},
        CRule{{"--workspace", "w", "--window", "1", "--write", "5"},
              "the window says what to read: --workspace goes without --write"},
        CRule{{"--workspace", "w", "--window", "1", "--scan-addresses"},
              "--workspace polls as its window does: it goes without --scan-units, "
              "--scan-addresses and --raw"}));

}  // namespace
