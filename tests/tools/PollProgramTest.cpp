// regprobe-poll run as a user or a script runs it, against the simulator:
// rows labelled as the test window labels them, no values after a failed
// read, the window's statistics line, one clear line for a bad number, hex
// numbers, the exit statuses, CSV and JSON read back by Python, characters
// that would break a line or a field, the traced frames, writes, reads that
// recover when a connection fails or drops, why a connection failed, a
// saved record's tries, a saved Local/DCom connection polled through the
// serial-port server; and RTU over TCP, Modbus/UDP and TLS, each against the
// simulator speaking only that transport, with an encrypted key's
// passphrase from a file.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "connections/ConfigFile.h"
#include "platform/com/ComApi.h"
#include "platform/com/rpc/RpcSettings.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ServerPin.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "transport/AutoModbus.h"
#include "transport/RemoteModbus.h"
#include "transport/TlsModbus.h"
#include "workspace/Workspace.h"

namespace {
using Lines = std::vector<std::string>;

// Every line a program prints (standard error too with bMerge), and its
// exit status.
Lines RunProgram(const std::vector<std::string>& argv, int* pnStatus, bool bMerge) {
    CChildProcess poll;
    EXPECT_TRUE(poll.Start(argv, bMerge));
    Lines lines;
    std::string strLine;
    while (lines.size() < 100 && poll.ReadLine(strLine, 10000)) {
        lines.push_back(strLine);
    }
    *pnStatus = poll.Wait(10000);
    return lines;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The simulator on 127.0.0.1 at strListen (a port it picks by default); its
// port, or empty when it did not start.
std::string StartSim(CChildProcess& sim, const Lines& options,
                     const std::string& strListen = "127.0.0.1:0") {
    const std::string strPrefix = "listening on 127.0.0.1:";
    std::string strLine;
    if (!sim.Start(Lines{REGPROBE_SIM_PROGRAM, "--listen", strListen} + options) ||
        !sim.ReadLine(strLine, 10000) || strLine.rfind(strPrefix, 0) != 0) {
        return "";
    }
    return strLine.substr(strPrefix.size());
}

// Field i of a CSV line without quoted fields.
std::string CsvColumn(const std::string& strLine, size_t i) {
    size_t nStart = 0;
    for (; i > 0 && nStart != std::string::npos; --i) {
        nStart = strLine.find(',', nStart);
        nStart = nStart == std::string::npos ? nStart : nStart + 1;
    }
    return nStart == std::string::npos ? "?"
                                       : strLine.substr(nStart, strLine.find(',', nStart) - nStart);
}

class PollProgram : public ::testing::Test {
protected:
    void SetUp() override {
        // From 20 on, characters that CSV and a text line must both survive;
        // from 60, 2^53, 2^53 + 1 and two values near the top of 64 bits.
        m_strPort =
            StartSim(m_sim, {"--holding", "0=10,11,12,13", "--holding",
                             "20=0x4100,0x41,0x0A,0x2C,0x22,0x0D,0x5C,0x09,0x7F", "--holding",
                             "60=0x20,0,0,0,0x20,0,0,1,0xFFE0,0,0,0,0xFFDF,0xFFFF,0xFFFF,0xFFFF",
                             "--float", "10=1.5", "--size", "holding=100"});
        ASSERT_FALSE(m_strPort.empty());
    }

    // Every line the poller prints (standard error too unless bStdoutOnly),
    // and its exit status.
    Lines Run(std::vector<std::string> options, int* pnStatus, bool bStdoutOnly = false) {
        options.insert(options.begin(), REGPROBE_POLL_PROGRAM);
        return RunProgram(options, pnStatus, !bStdoutOnly);
    }

    std::vector<std::string> Device() { return {"--port", m_strPort, "--interval", "0"}; }

    CChildProcess m_sim;
    std::string m_strPort;
};

TEST_F(PollProgram, AReadsFileRunsEachReadAndLabelsItsLines) {
    CTempDir dir;
    const std::string strFile =
        dir.WriteFile("panel.reads",
                      "# two reads of one device\n"
                      "tcp:127.0.0.1:" +
                          m_strPort +
                          " 1 holding 1 2 uint16 0\n"
                          "tcp:127.0.0.1:" +
                          m_strPort + " 1 holding 10 1 float 30 # the float\n",
                      0600);
    int nStatus = -1;
    const Lines lines = Run({"--reads", strFile, "--count", "2"}, &nStatus, true);
    EXPECT_EQ(nStatus, 0);
    const std::string strLabel = "127.0.0.1:" + m_strPort + " 1 holding ";
    size_t nFirst = 0;
    size_t nFloat = 0;
    for (const std::string& strLine : lines) {
        nFirst += strLine == strLabel + "1: [1]=11 0xb [2]=12 0xc";
        nFloat += strLine == strLabel + "10: [10]=1.5";
        EXPECT_EQ(strLine.rfind(strLabel, 0), 0u) << strLine;
    }
    EXPECT_EQ(nFirst, 2u);
    EXPECT_EQ(nFloat, 2u);
    EXPECT_EQ(lines.size(), 12u);

    dir.WriteFile("bad.reads",
                  "tcp:127.0.0.1:1 1 holding 0 1 uint16 0\nplc 1 holding 0 1 uint16 0\n", 0600);
    const Lines bad = Run({"--reads", dir.Path() + "/bad.reads"}, &nStatus);
    EXPECT_EQ(nStatus, 2);
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0], "regprobe-poll: " + dir.Path() +
                          "/bad.reads:2: 'plc' is no tcp:, rtu-over-tcp: or udp:HOST:PORT, and no "
                          "--config FILE is given to find it in (see --help)");
}

TEST_F(PollProgram, TheRateIsThatOfEachReadAndOfTheLastTenEveryTenth) {
    int nStatus = -1;
    const Lines lines = Run(Device() + Lines{"--quantity", "1", "--cycles", "10"}, &nStatus);
    ASSERT_EQ(lines.size(), 30u);
    // Each read's time against its rate: 1000 / ms, to the print's precision.
    for (size_t i = 0; i + 2 < 27; i += 3) {
        const double dMillis = std::atof(lines[i + 1].substr(lines[i + 1].find('(') + 1).c_str());
        const double dRate = std::atof(lines[i + 2].substr(lines[i + 2].find("  ") + 2).c_str());
        ASSERT_GT(dMillis, 0) << lines[i + 1];
        EXPECT_NEAR(dRate, 1000.0 / dMillis, 0.01 * dRate) << lines[i + 1] << " / " << lines[i + 2];
    }
    EXPECT_EQ(lines[29].rfind("10 Errors=0  ", 0), 0u) << lines[29];
    EXPECT_EQ(nStatus, 0);
}

TEST_F(PollProgram, BadNumbersGiveOneLineAndStatus2) {
    for (const Lines& options :
         {Lines{"--port", "x"}, Lines{"--quantity", "-1"}, Lines{"--port", "70000"},
          Lines{"--interval", "10001"}, Lines{"--address", "12abc"}, Lines{"--address", "0x"},
          Lines{"--address", "0x10000"}, Lines{"--address", "0x0x1"}, Lines{"--count", "0x-1"},
          Lines{"--function", "nope"}, Lines{"--scan-units", "9-3"},
          Lines{"--scan-units", "1-256"}}) {
        int nStatus = -1;
        const Lines lines = Run(options, &nStatus);
        ASSERT_EQ(lines.size(), 1u) << options[0];
        EXPECT_EQ(lines[0].rfind("regprobe-poll: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(options[1] == "nope" ? "nope" : options[0]), std::string::npos)
            << lines[0];
        EXPECT_EQ(nStatus, 2) << options[0];
    }
}

TEST_F(PollProgram, TraceShowsTheFramesSentAndReceived) {
    int nStatus = -1;
    const Lines lines =
        Run(Device() + Lines{"--once", "--address", "1", "--quantity", "2", "--trace"}, &nStatus);
    EXPECT_EQ(nStatus, 0);
    const std::string strName = "127.0.0.1:" + m_strPort;
    auto find = [&](const std::string& strTail) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& s) {
            return s.size() > 14 && s.substr(12, 2) == "  " && s.find(strTail) != std::string::npos;
        });
    };
    EXPECT_EQ(find("  " + strName +
                   "  >  00 00 00 00 00 06 01 03 00 01 00 02  unit 1: read holding registers, "
                   "address 1, quantity 2"),
              1);
    EXPECT_EQ(find("  " + strName + "  <  00 00 00 00 00 07 01 03 04 00 0B 00 0C  Ok  "), 1);
    EXPECT_EQ(find(" ms  unit 1: read holding registers: 11 12"), 1);
}

const char kIllegal[] = "Modbus device return an exception code 2 (illegal data address)";
const std::string kIllegalAt = std::string(kIllegal) + " (*";

// One run against the simulator: its options (after its port and --interval
// 0; "$hexport" is the port in hex), standard error too unless bStdoutOnly,
// the exit status and every line printed, a line ending in '*' being the
// start of one whose rest is a time.
struct CRun {
    const char* pszName;
    const char* pszOptions;
    bool bStdoutOnly;
    int nStatus;
    Lines want;
};
CRun R(const char* pszName, const char* pszOptions, bool bStdoutOnly, int nStatus, Lines want) {
    return {pszName, pszOptions, bStdoutOnly, nStatus, std::move(want)};
}
void PrintTo(const CRun& run, std::ostream* pOut) {
    *pOut << run.pszOptions;
}

class PollRuns : public PollProgram, public ::testing::WithParamInterface<CRun> {};

TEST_P(PollRuns, PrintWhatTheyReadAndExitByIt) {
    char szHex[8];
    std::snprintf(szHex, sizeof szHex, "0x%X", unsigned(std::stoul(m_strPort)));
    Lines options = Device();
    std::istringstream in(GetParam().pszOptions);
    for (std::string strOption; in >> strOption;) {
        options.push_back(strOption == "$hexport" ? szHex : strOption);
    }
    int nStatus = -1;
    const Lines lines = Run(options, &nStatus, GetParam().bStdoutOnly);
    EXPECT_EQ(nStatus, GetParam().nStatus);
    ASSERT_EQ(lines.size(), GetParam().want.size()) << ::testing::PrintToString(lines);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& strWant = GetParam().want[i];
        if (!strWant.empty() && strWant.back() == '*') {
            EXPECT_EQ(lines[i].rfind(strWant.substr(0, strWant.size() - 1), 0), 0u) << lines[i];
        } else {
            EXPECT_EQ(lines[i], strWant);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, PollRuns,
    ::testing::Values(
        R("RowsCarryTheAddressOfTheirRegister", "--address 1 --quantity 2 --count 1", false, 0,
          {"[1]=11 0xb [2]=12 0xc", "Ok (*", "1 Errors=0  *"}),
        R("AFloat", "--address 10 --quantity 1 --type float --count 1", false, 0,
          {"[10]=1.5", "Ok (*", "1 Errors=0  *"}),
        // Registers 98-102: past the end of the device's 100.
        R("AFailedReadPrintsItsStatusAndNoValues", "--address 98 --quantity 5 --count 2", false, 1,
          {kIllegalAt, "1 Errors=1  *", kIllegalAt, "2 Errors=2  *"}),
        R("OnceExitsByTheRead", "--once --quantity 2", true, 0,
          {"[0]=10 0xa [1]=11 0xb", "Ok (*", "1 Errors=0  *"}),
        R("OnceExitsByAFailedRead", "--once --address 99 --quantity 2", true, 1,
          {kIllegalAt, "1 Errors=1  *"}),
        R("AWriteFollowedByItsReadBack",
          "--type int32-cdab --address 40 --write -100000 --once --quantity 1", true, 0,
          {"[40]=-100000", "Ok (*", "1 Errors=0  *"}),
        R("AValueTheTypeCannotHoldWritesNothing", "--type int32-abcd --write abc", false, 2,
          {"regprobe-poll: nothing written: The value does not fit the data type (see --help)"}),
        R("AWriteTheDeviceRefuses", "--write-address 500 --write 7", false, 1, {kIllegal}),
        // Every number the poller takes may be written in hex as well.
        R("NumbersMayBeHex",
          "--port $hexport --timeout 0x2710 --tries 0X2 --device 0x01 --address 0x1 --quantity "
          "0x2 --interval 0x0 --count 0x1 --write-address 0x2 --write 42",
          false, 0, {"[1]=11 0xb [2]=42 0x2a", "Ok (*", "1 Errors=0  *"}),
        // Control characters, a backslash and DEL are written escaped, so
        // that a read stays on one line; a NUL ends its row as in the window.
        R("TextKeepsEachReadOnOneLine", "--once --type char --address 20 --quantity 9", true, 0,
          {R"([20]= [21]=A 0x41 [22]=\n 0xa [23]=, 0x2c [24]=" 0x22 [25]=\r 0xd [26]=\\ 0x5c)"
           R"( [27]=\x09 0x9 [28]=\x7f 0x7f)",
           "Ok (*", "1 Errors=0  *"})),
    [](const ::testing::TestParamInfo<CRun>& info) { return info.param.pszName; });

// Only a write: nothing printed, and the coil reads back set.
TEST_F(PollProgram, AWriteAloneSetsWhatItWrites) {
    int nStatus = -1;
    EXPECT_TRUE(
        Run(Device() + Lines{"--write-function", "coil", "--write-address", "3", "--write", "1"},
            &nStatus)
            .empty());
    EXPECT_EQ(nStatus, 0);
    const Lines lines =
        Run(Device() + Lines{"--function", "coils", "--address", "3", "--quantity", "1", "--once"},
            &nStatus);
    EXPECT_EQ(lines.at(0), "[3]=1");
}

// Python's own csv and json modules read the output back; what they print is
// compared.
struct CPython {
    const char* pszName;
    const char* pszOptions;  // after the simulator's port and --interval 0
    const char* pszScript;   // "$port" is the simulator's
    Lines want;
};
CPython Py(const char* pszName, const char* pszOptions, const char* pszScript, Lines want) {
    return {pszName, pszOptions, pszScript, std::move(want)};
}
void PrintTo(const CPython& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

class PollThroughPython : public PollProgram, public ::testing::WithParamInterface<CPython> {};

TEST_P(PollThroughPython, ReadsBackWhatWasRead) {
    std::string strScript = GetParam().pszScript;
    if (const size_t n = strScript.find("$port"); n != std::string::npos) {
        strScript.replace(n, 5, m_strPort);
    }
    int nStatus = -1;
    const Lines lines =
        RunProgram({"/bin/sh", "-c",
                    std::string(REGPROBE_POLL_PROGRAM) + " --port " + m_strPort + " --interval 0 " +
                        GetParam().pszOptions + " | /usr/bin/python3 -c '" + strScript + "'"},
                   &nStatus, true);
    EXPECT_EQ(lines, GetParam().want);
    EXPECT_EQ(nStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PollThroughPython,
    ::testing::Values(
        Py("Csv", "--count 2 --address 10 --quantity 1 --type float --format csv",
           "import csv,sys\nfor r in csv.DictReader(sys.stdin): print(r[\"address\"], "
           "r[\"value\"], r[\"status\"], r[\"type\"], float(r[\"read_ms\"]) >= 0)",
           {"10 1.5 Ok float True", "10 1.5 Ok float True"}),
        Py("Json", "--count 2 --address 10 --quantity 1 --type float --format json",
           "import json,sys\nfor r in json.load(sys.stdin): print(r[\"ok\"], r[\"values\"], "
           "r[\"connection\"].endswith(\":$port\"))",
           {"True [{'address': 10, 'value': 1.5}] True",
            "True [{'address': 10, 'value': 1.5}] True"}),
        // A failed read: no values, ok false.
        Py("JsonOfAFailedRead", "--once --quantity 2 --address 99 --format json 2>/dev/null",
           "import json,sys; r = json.load(sys.stdin)[0]; "
           "print(r[\"ok\"], r[\"values\"], r[\"status\"])",
           {"False [] Modbus device return an exception code 2 (illegal data address)"}),
        // A 64-bit integer is a JSON number only while a double holds it
        // exactly: 2^53 and -2^53 are numbers, one further out a string.
        Py("JsonOfInt64", "--address 60 --once --quantity 4 --type int64-abcd --format json",
           "import json,sys; print([v[\"value\"] for v in json.load(sys.stdin)[0][\"values\"]])",
           {"[9007199254740992, '9007199254740993', -9007199254740992, '-9007199254740993']"}),
        Py("JsonOfUint64", "--address 60 --once --quantity 4 --type uint64-abcd --format json",
           "import json,sys; print([v[\"value\"] for v in json.load(sys.stdin)[0][\"values\"]])",
           {"[9007199254740992, '9007199254740993', '18437736874454810624', "
            "'18437736874454810623']"}),
        // Every character comes back as its own field: a NUL is an empty
        // value, and nothing of the record after it is lost.
        Py("CsvOfEveryCharacter", "--once --type char --address 20 --quantity 7 --format csv",
           "import csv\nfor r in csv.DictReader(open(0, newline=\"\")): print(r[\"address\"], "
           "repr(r[\"value\"]), r[\"status\"], float(r[\"read_ms\"]) >= 0)",
           {"20 '' Ok True", "21 'A' Ok True", "22 '\\n' Ok True", "23 ',' Ok True",
            "24 '\"' Ok True", "25 '\\r' Ok True", "26 '\\\\' Ok True"})),
    [](const ::testing::TestParamInfo<CPython>& info) { return info.param.pszName; });

// Units 3, 7 and 200 answer; the others stay silent. An exception is an
// answer, so a read past the table's end still finds them.
TEST(PollScan, FindsExactlyTheUnitsThatAnswer) {
    CChildProcess sim;
    const std::string strPort = StartSim(sim, {"--units", "3,7,200", "--size", "holding=100"});
    ASSERT_FALSE(strPort.empty());
    const std::string strScan = std::string(REGPROBE_POLL_PROGRAM) + " --port " + strPort +
                                " --scan-timeout 100 --scan-units ";
    int nStatus = -1;
    Lines lines = RunProgram({"/bin/sh", "-c", strScan + "2-8"}, &nStatus, false);
    ASSERT_EQ(lines.size(), 8u);
    for (int nUnit = 2; nUnit <= 8; ++nUnit) {
        const std::string strWant = "unit " + std::to_string(nUnit) + ": " +
                                    (nUnit == 3 || nUnit == 7 ? "data (" : "silent (");
        EXPECT_EQ(lines[size_t(nUnit - 2)].rfind(strWant, 0), 0u) << lines[size_t(nUnit - 2)];
    }
    EXPECT_EQ(lines[7], "units that answered: 3, 7");
    EXPECT_EQ(nStatus, 0);

    lines = RunProgram({"/bin/sh", "-c",
                        strScan + "199-201 --address 150 --format csv | /usr/bin/python3 -c "
                                  "'import csv,sys\n"
                                  "for r in csv.DictReader(sys.stdin): print(r[\"unit\"], "
                                  "r[\"result\"], float(r[\"round_trip_ms\"]) < 1000)'"},
                       &nStatus, true);
    EXPECT_EQ(lines, (Lines{"199 silent True", "200 exception 2 True", "201 silent True"}));

    lines = RunProgram({"/bin/sh", "-c",
                        strScan + "6-7 --function coils --format json | /usr/bin/python3 -c "
                                  "'import json,sys\n"
                                  "for r in json.load(sys.stdin): print(r[\"unit\"], "
                                  "r[\"result\"], r.get(\"status\"))'"},
                       &nStatus, true);
    EXPECT_EQ(lines, (Lines{"6 silent Socket Error: no answer within 100 ms", "7 data None"}));
}

// The readable ranges of the simulator's tables, found in fewer than 2,000
// requests each; a unit that does not answer ends the scan with why.
TEST(PollScan, FindsTheReadableRangesOfATable) {
    CChildProcess sim;
    const std::string strPort =
        StartSim(sim, {"--units", "1", "--size", "holding=1000", "--size", "coils=70"});
    ASSERT_FALSE(strPort.empty());
    const Lines scan = {REGPROBE_POLL_PROGRAM, "--port", strPort, "--scan-addresses"};
    int nStatus = -1;
    for (const auto& [strFunction, strFormat, want] :
         {std::tuple<std::string, std::string, Lines>{"holding", "text", {"0-999"}},
          {"coils", "json", {"[{\"first\": 0, \"last\": 69}]"}},
          {"inputs", "csv", {"first,last", "0,9999"}}}) {
        Lines lines = RunProgram(scan + Lines{"--function", strFunction, "--format", strFormat},
                                 &nStatus, true);
        ASSERT_EQ(lines.size(), want.size() + 1) << strFunction;
        EXPECT_EQ(Lines(lines.begin(), lines.end() - 1), want);
        std::smatch match;
        ASSERT_TRUE(
            std::regex_match(lines.back(), match, std::regex("1 range in ([0-9]+) requests")))
            << lines.back();
        EXPECT_LT(std::stoi(match[1]), 2000) << strFunction;
        EXPECT_EQ(nStatus, 0);
    }
    const Lines lines =
        RunProgram(scan + Lines{"--device", "2", "--timeout", "200"}, &nStatus, true);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "regprobe-poll: scan stopped at 0 after 1 requests: Socket Error: no answer within "
              "200 ms");
    EXPECT_EQ(nStatus, 1);
}

// Any request, sent as given and its answer decoded: a mask write (11 AND
// 0xF2, OR 0x25 where the mask is clear: 7) and a read-back, a read/write of several registers, an
// exception, and requests refused before anything is sent.
TEST_F(PollProgram, RawRequestsGoOutAsGivenAndTheirAnswersAreDecoded) {
    const std::vector<std::pair<std::string, Lines>> cases = {
        {"16 0001 00F2 0025",
         {"> 01 16 00 01 00 F2 00 25  unit 1: mask write register, address 1, AND 0x00F2, OR "
          "0x0025",
          "< 01 16 00 01 00 F2 00 25  unit 1: mask write register, address 1, AND 0x00F2, OR "
          "0x0025"}},
        {"03 0001 0001",
         {"> 01 03 00 01 00 01  unit 1: read holding registers, address 1, quantity 1",
          "< 01 03 02 00 07  unit 1: read holding registers: 7"}},
        {"17:0000:0002:0005:0001:02:ABCD",
         {"> 01 17 00 00 00 02 00 05 00 01 02 AB CD  unit 1: read/write multiple registers, read "
          "address 0, quantity 2, write address 5, quantity 1: 43981",
          "< 01 17 04 00 0A 00 07  unit 1: read/write multiple registers: 10 7"}},
        {"03 FFF0 0002",
         {"> 01 03 FF F0 00 02  unit 1: read holding registers, address 65520, quantity 2",
          "< 01 83 02  unit 1: read holding registers, exception 2 (illegal data address)"}},
    };
    for (const auto& [strHex, want] : cases) {
        int nStatus = -1;
        const Lines lines = Run(Device() + Lines{"--raw", strHex}, &nStatus, true);
        ASSERT_EQ(lines.size(), 3u) << strHex;
        EXPECT_EQ(Lines(lines.begin(), lines.begin() + 2), want);
        const bool bException = lines[1].find("exception") != std::string::npos;
        EXPECT_EQ(
            lines[2].rfind(bException ? "Modbus device return an exception code 2" : "Ok (", 0), 0u)
            << lines[2];
        EXPECT_EQ(nStatus, bException ? 1 : 0);
    }
    for (const std::string& strBad : {std::string("3"), std::string("0G"), std::string(508, 'A')}) {
        int nStatus = -1;
        const Lines lines = Run(Device() + Lines{"--raw", strBad}, &nStatus);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("regprobe-poll: --raw", 0), 0u) << lines[0];
        EXPECT_EQ(nStatus, 2);
    }
}

TEST_F(PollProgram, AFailedConnectionIsAFailedReadInEveryFormat) {
    WORD nPort = 0;
    const int hBound = ListenLoopback(-1, &nPort);
    ASSERT_GE(hBound, 0);
    const Lines base{"--port", std::to_string(nPort), "--once", "--format"};
    const std::string strName = "127.0.0.1:" + std::to_string(nPort);
    const struct {
        const char* pszFormat;
        Lines patterns;  // one per line
    } kCases[] = {
        {"text", {R"(Socket not connected \(\d+\.\d{3} ms\))", "1 Errors=1  .*"}},
        {"csv",
         {"time,connection,device,function,type,address,value,status,read_ms",
          R"(\S+Z,)" + strName + R"(,1,holding,uint16,,,Socket not connected,\d+\.\d{3})"}},
        {"json",
         {R"(\[)", R"(\{"time":.*,"ok":false,"status":"Socket not connected",.*"values":\[\]\})",
          R"(\])"}},
    };
    for (const auto& c : kCases) {
        int nStatus = -1;
        const Lines lines = Run(base + Lines{c.pszFormat}, &nStatus, true);
        EXPECT_EQ(nStatus, 1) << c.pszFormat;
        ASSERT_EQ(lines.size(), c.patterns.size()) << c.pszFormat;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(c.patterns[i]))) << lines[i];
        }
    }
    // With --once the read's status goes to standard error too (where the
    // connection error is, as PollConnectionError checks).
    int nStatus = -1;
    const Lines lines = Run(base + Lines{"text"}, &nStatus);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Socket not connected"), 1);
    ::close(hBound);
}

// The connection error says where and why, for each real cause.
enum class EPeer { Refusing, NeverAccepting, UnknownHost };

class PollConnectionError : public ::testing::TestWithParam<EPeer> {};

TEST_P(PollConnectionError, SaysWhereAndWhy) {
    CListener silent(0);
    CRawClient filler(silent.Port());  // fills the accept queue: later handshakes go unanswered
    ASSERT_TRUE(filler.m_bConnected);
    std::string strHost = "127.0.0.1";
    WORD nPort = silent.Port();
    std::string strCause;
    if (GetParam() == EPeer::Refusing) {
        ::close(ListenLoopback(-1, &nPort));
        strCause = "127.0.0.1:" + std::to_string(nPort) + ": connection refused";
    } else if (GetParam() == EPeer::NeverAccepting) {
        strCause = "127.0.0.1:" + std::to_string(nPort) + ": no answer within 300 ms";
    } else {
        strHost = "no-such-host.invalid";
        strCause = "no-such-host.invalid: host name not found";
    }
    int nStatus = -1;
    const Lines lines = RunProgram({REGPROBE_POLL_PROGRAM, "--host", strHost, "--port",
                                    std::to_string(nPort), "--timeout", "300", "--once"},
                                   &nStatus, true);
    EXPECT_EQ(nStatus, 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Connection Error: " + strCause), 1)
        << testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(Peers, PollConnectionError,
                         ::testing::Values(EPeer::Refusing, EPeer::NeverAccepting,
                                           EPeer::UnknownHost),
                         [](const ::testing::TestParamInfo<EPeer>& info) {
                             return info.param == EPeer::Refusing         ? "Refusing"
                                    : info.param == EPeer::NeverAccepting ? "NeverAccepting"
                                                                          : "UnknownHost";
                         });

// The device is not there when polling starts and appears later: the
// failed reads are printed and the poller connects once it can.
TEST(PollRecovery, ReadsSucceedOnceTheDeviceAppears) {
    WORD nPort = 0;
    int hBound = ListenLoopback(-1, &nPort);
    ASSERT_GE(hBound, 0);
    CChildProcess poll;
    ASSERT_TRUE(
        poll.Start({REGPROBE_POLL_PROGRAM, "--port", std::to_string(nPort), "--timeout", "300",
                    "--interval", "100", "--count", "60", "--quantity", "1", "--format", "csv"}));
    std::string strLine;
    ASSERT_TRUE(poll.ReadLine(strLine, 10000));  // the header
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(poll.ReadLine(strLine, 10000));
        EXPECT_EQ(CsvColumn(strLine, 7), "Socket not connected") << strLine;
    }
    ::close(hBound);
    CChildProcess sim;
    ASSERT_FALSE(StartSim(sim, {"--holding", "0=7"}, "127.0.0.1:" + std::to_string(nPort)).empty());
    bool bRead = false;
    for (int i = 0; i < 20 && !bRead && poll.ReadLine(strLine, 5000); ++i) {
        bRead = CsvColumn(strLine, 7) == "Ok";
    }
    EXPECT_TRUE(bRead) << strLine;
    EXPECT_EQ(CsvColumn(strLine, 6), "7") << strLine;
    poll.Signal(SIGINT);
    EXPECT_EQ(poll.Wait(5000), 1);
}

// The device swallows or hangs up on two requests: the poller connects
// again by itself, and the reads after them succeed.
class PollReconnect : public ::testing::TestWithParam<const char*> {};

TEST_P(PollReconnect, ReadsSucceedAgainAfterTheConnectionDropped) {
    CChildProcess sim;
    const std::string strFault = GetParam();
    const std::string strPort =
        StartSim(sim, {"--fault", strFault + "@request=2", "--fault", strFault + "@request=3"});
    ASSERT_FALSE(strPort.empty());
    int nStatus = -1;
    const Lines lines =
        RunProgram({REGPROBE_POLL_PROGRAM, "--port", strPort, "--timeout", "300", "--interval",
                    "100", "--count", "5", "--quantity", "1", "--format", "csv"},
                   &nStatus, false);
    ASSERT_EQ(lines.size(), 6u);
    Lines statuses;
    for (size_t i = 1; i < lines.size(); ++i) {
        statuses.push_back(CsvColumn(lines[i], 7) == "Ok" ? "Ok" : "failed");
        EXPECT_NE(CsvColumn(lines[i], 7), "Socket not connected") << lines[i];
    }
    EXPECT_EQ(statuses, (Lines{"Ok", "failed", "failed", "Ok", "Ok"}));
    EXPECT_EQ(nStatus, 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, PollReconnect, ::testing::Values("no-answer", "close"));

// A workspace whose windows 2, 4 and 5 poll the simulator through its record
// "plc"; window 1 has no connection, window 3 one the workspace lacks.
class PollWorkspace : public PollProgram {
protected:
    void SetUp() override {
        PollProgram::SetUp();
        ASSERT_FALSE(m_dir.Path().empty());
        CConnections connections;
        CRemoteModbus* pTcp = connections.Add("plc", CONNECTION_OPEN_MODBUS)->GetRemoteModbus();
        pTcp->SetHost("127.0.0.1");
        pTcp->SetPort(WORD(std::stoi(m_strPort)));
        CWorkspace ws;
        ws.connections = WorkspaceConnectionsOf(connections);
        // As typed: the window reads "1x" as 1 and takes the longest
        // interval for one out of range.
        const auto window = [](const char* pszConnection, const char* pszAddress,
                               const char* pszQuantity, int nType, const char* pszInterval) {
            CWorkspaceWindow w;
            w.strConnection = pszConnection;
            w.strDevice = "1x";
            w.strAddress = pszAddress;
            w.strQuantity = pszQuantity;
            w.nDataType = nType;
            w.strInterval = pszInterval;
            return w;
        };
        ws.windows = {window("", "0", "1", 2, "0"), window("plc", " 1", "2", 2, "0"),
                      window("gone", "0", "1", 2, "0"), window("plc", "10", "1", 3, "0"),
                      window("plc", "10", "1", 3, "-1")};
        CString strError;
        ASSERT_TRUE(SaveWorkspace(ws, m_strWorkspace, strError)) << strError;
    }

    CTempDir m_dir;
    const std::string m_strWorkspace = m_dir.Path() + "/day.rpw";
};

TEST_F(PollWorkspace, AWindowPollsAsThePlainOptionsDo) {
    // The same lines but for times and rates; the connection is named
    // instead of host:port.
    const std::regex vary(
        R"re("(time|read_ms|connection)":("[^"]*"|[0-9.]+)|[0-9.]+( ms\)|\(Up\./s\)))re");
    const auto normalised = [&](const Lines& lines) {
        std::string strText;
        for (const std::string& strLine : lines) {
            strText += std::regex_replace(strLine, vary, "$1$3") + "\n";
        }
        return strText;
    };
    struct {
        const char* pszWindow;
        Lines plain;
    } const kCases[] = {{"2", {"--address", "1", "--quantity", "2"}},
                        {"4", {"--address", "10", "--quantity", "1", "--type", "float"}}};
    for (const auto& c : kCases) {
        for (const std::string strFormat : {"text", "json"}) {
            int nPlain = -1;
            const Lines plain = Run(
                Device() + c.plain + Lines{"--count", "2", "--format", strFormat}, &nPlain, true);
            int nStatus = -1;
            const Lines lines = Run({"--workspace", m_strWorkspace, "--window", c.pszWindow,
                                     "--count", "2", "--format", strFormat},
                                    &nStatus, true);
            EXPECT_EQ(nStatus, 0);
            EXPECT_EQ(nPlain, 0);
            // Per read values, status and statistics; or "[", a line each, "]".
            EXPECT_EQ(lines.size(), strFormat == "text" ? 6u : 4u);
            EXPECT_EQ(normalised(lines), normalised(plain));
        }
    }
    // An interval out of range is the longest: a second read waits 10 s.
    CChildProcess poll;
    ASSERT_TRUE(poll.Start(
        {REGPROBE_POLL_PROGRAM, "--workspace", m_strWorkspace, "--window", "5", "--count", "2"},
        false));
    std::string strLine;
    ASSERT_TRUE(poll.ReadLine(strLine, 10000));
    EXPECT_EQ(strLine, "[10]=1.5");
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(poll.ReadLine(strLine, 10000));
    }
    EXPECT_FALSE(poll.ReadLine(strLine, 1500));  // at 0, the second would be here
}

TEST_F(PollWorkspace, AsReadsEachWindowIsARead) {
    CWorkspace ws;
    CString strError;
    ASSERT_TRUE(LoadWorkspace(m_strWorkspace, ws, strError)) << strError;
    ws.windows = {ws.windows[1], ws.windows[3]};
    const std::string strPanel = m_dir.Path() + "/panel.rpw";
    ASSERT_TRUE(SaveWorkspace(ws, strPanel, strError)) << strError;
    int nStatus = -1;
    const Lines lines = Run({"--reads", strPanel, "--count", "2"}, &nStatus, true);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "plc 1 holding 1: [1]=11 0xb [2]=12 0xc"), 2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "plc 1 holding 10: [10]=1.5"), 2);
    EXPECT_EQ(lines.size(), 12u);

    const Lines refused = Run({"--reads", m_strWorkspace}, &nStatus);
    EXPECT_EQ(nStatus, 2);
    EXPECT_EQ(refused, Lines{"regprobe-poll: window 1 of " + m_strWorkspace +
                             " has no connection selected (see --help)"});
}

TEST_F(PollWorkspace, WhatCannotBePolledIsOneLineAndStatus2) {
    CTempDir dir;
    const std::string strDamaged = dir.WriteFile("damaged.rpw", "{\n  \"format\" 1\n}\n", 0600);
    struct {
        Lines options;
        std::string strLine;  // its start for the parser's own text
    } const kCases[] = {
        {{"--window", "6"},
         "regprobe-poll: no window 6 of " + m_strWorkspace + ": it holds 5 windows"},
        {{"--window", "1"},
         "regprobe-poll: window 1 of " + m_strWorkspace + " has no connection selected"},
        {{"--window", "3"},
         "regprobe-poll: window 3 of " + m_strWorkspace +
             " reads through connection gone, which the workspace does not "
             "hold"},
        {{"--window", "2", "--host", "127.0.0.1"},
         "regprobe-poll: the window's connection brings its own address, transport and files "
         "(see --help)"},
        {{"--window", "2", "--quantity", "3"},
         "regprobe-poll: the window says what to read: --workspace goes without --quantity (see "
         "--help)"},
        {{"--window", "1", "--workspace", strDamaged},
         "regprobe-poll: " + strDamaged + ": line 2, column 12: syntax error"},
        {{"--window", "1", "--workspace", dir.Path() + "/none.rpw"},
         "regprobe-poll: Cannot open " + dir.Path() + "/none.rpw: No such file or directory"},
    };
    for (const auto& c : kCases) {
        int nStatus = -1;
        const Lines lines =
            Run(Lines{"--workspace", m_strWorkspace, "--once"} + c.options, &nStatus);
        EXPECT_EQ(nStatus, 2) << c.strLine;
        ASSERT_EQ(lines.size(), 1u) << c.strLine;
        EXPECT_EQ(lines[0].substr(0, c.strLine.size()), c.strLine);
    }
}

// An Open Modbus record saved with three tries, against a device that
// refuses the first two requests: the record's tries hold unless --tries
// is given.
TEST(PollSavedTries, TheRecordsTriesHoldUnlessGiven) {
    CTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string strConfig = dir.Path() + "/Regpr.cfg";
    struct {
        Lines options;
        int nStatus;
    } const kCases[] = {{{}, 0}, {{"--tries", "1"}, 1}, {{"--tries", "2"}, 1}};
    for (const auto& c : kCases) {
        CChildProcess sim;
        const std::string strPort = StartSim(sim, {"--holding", "0=5", "--fault", "exception=6:2"});
        ASSERT_FALSE(strPort.empty());
        CConnections connections;
        CRemoteModbus* pTcp = connections.Add("plc", CONNECTION_OPEN_MODBUS)->GetRemoteModbus();
        pTcp->SetHost("127.0.0.1");
        pTcp->SetPort(WORD(std::stoi(strPort)));
        pTcp->m_nTries = 3;
        ASSERT_TRUE(SaveConnections(connections, strConfig));
        connections.RemoveAll();
        int nStatus = -1;
        const Lines lines = RunProgram(Lines{REGPROBE_POLL_PROGRAM, "--config", strConfig,
                                             "--connection", "plc", "--once", "--quantity", "1"} +
                                           c.options,
                                       &nStatus, true);
        EXPECT_EQ(nStatus, c.nStatus) << ::testing::PrintToString(c.options);
        ASSERT_FALSE(lines.empty());
        const std::string strWant =
            c.nStatus == 0 ? "[0]=5 0x5" : "Modbus device return an exception code 6 (";
        EXPECT_EQ(lines[0].rfind(strWant, 0), 0u) << lines[0];
    }
}

// A Local/DCom connection saved by the connections library, polled over a pty
// through modbus-serial-server.
class PollSavedConnection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.Path().empty());
        ASSERT_TRUE(m_sim.Start({REGPROBE_SIM_PROGRAM, "--pty", "--holding", "0=11,22,33"}));
        std::string strLine;
        ASSERT_TRUE(m_sim.ReadLine(strLine, 10000));
        ASSERT_EQ(strLine.rfind("pty ", 0), 0u) << strLine;
        ASSERT_TRUE(m_server.Start(
            {REGPROBE_SERVER_PROGRAM, "--foreground", "--port", "COM1=" + strLine.substr(4)}));
        // The record is made against the running server, as the dialog makes it;
        // none other may start while that one comes up.
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        const CServerPin noOtherServer;
        CConnections connections;
        for (int i = 0; i < 100 && connections.Lookup("com1", m_pConnection) == FALSE; ++i) {
            CConnection* pConnection = connections.Add("com1", CONNECTION_LOCAL_DCOM);
            if (SUCCEEDED(pConnection->GetAutoModbus()->Create("", "com1"))) {
                break;
            }
            connections.Remove("com1");
            ::usleep(50000);
        }
        ASSERT_TRUE(connections.Lookup("com1", m_pConnection));
        connections.Add("plc", CONNECTION_OPEN_MODBUS)->GetRemoteModbus()->SetPort(1);
        m_strConfig = m_dir.Path() + "/Regpr.cfg";
        ASSERT_TRUE(SaveConnections(connections, m_strConfig));
        connections.RemoveAll();
        CoUninitialize();
        m_strPty = strLine.substr(4);
    }
    void TearDown() override {
        m_server.Signal(SIGTERM);
        m_server.Wait(5000);
    }

    CTempDir m_dir;
    CScopedEnv m_runtimeDir{RPC_RUNTIME_DIR_VARIABLE, m_dir.Path().c_str()};
    CChildProcess m_sim;
    CChildProcess m_server;
    CConnection* m_pConnection = nullptr;
    std::string m_strConfig;
    std::string m_strPty;
};

TEST_F(PollSavedConnection, ALocalConnectionIsPolledThroughTheServer) {
    int nStatus = -1;
    Lines lines = RunProgram({REGPROBE_POLL_PROGRAM, "--config", m_strConfig, "--connection",
                              "com1", "--once", "--quantity", "3", "--format", "csv"},
                             &nStatus, true);
    EXPECT_EQ(nStatus, 0);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[1].find("Z,com1,1,holding,uint16,0,11,Ok,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find(",2,33,Ok,"), std::string::npos) << lines[3];
    // The trace shows the PDU the server was handed and what it returned.
    lines = RunProgram({REGPROBE_POLL_PROGRAM, "--config", m_strConfig, "--connection", "com1",
                        "--once", "--quantity", "1", "--trace"},
                       &nStatus, true);
    EXPECT_EQ(nStatus, 0);
    auto has = [&](const std::string& strPart) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& s) {
            return s.find(strPart) != std::string::npos;
        });
    };
    EXPECT_TRUE(has("  com1  >  01 03 00 00 00 01")) << lines.size();
    EXPECT_TRUE(has("  com1  <  01 03 02 00 0B  Ok  ")) << lines.size();
    // A name the file does not hold.
    lines = RunProgram(
        {REGPROBE_POLL_PROGRAM, "--config", m_strConfig, "--connection", "nope", "--once"},
        &nStatus, true);
    EXPECT_EQ(nStatus, 1);
    EXPECT_EQ(lines, Lines{"regprobe-poll: no connection named nope in " + m_strConfig});
}

// No server running: the poller starts the one beside it, as the application
// does, with the port map of the user's configuration.
TEST_F(PollSavedConnection, TheServerIsStartedWhenItIsNotRunning) {
    m_server.Signal(SIGTERM);
    ASSERT_EQ(m_server.Wait(5000), 0);
    const std::string strDir = m_dir.Path() + "/bin";
    const std::string strConfigHome = m_dir.Path() + "/config";
    std::filesystem::create_directories(strDir);
    std::filesystem::create_directories(strConfigHome + "/regprobe");
    std::filesystem::copy_file(REGPROBE_POLL_PROGRAM, strDir + "/regprobe-poll");
    std::filesystem::create_symlink(REGPROBE_SERVER_PROGRAM, strDir + "/modbus-serial-server");
    std::ofstream(strConfigHome + "/regprobe/serial-ports.conf") << "COM1=" << m_strPty << "\n";
    int nStatus = -1;
    const auto tStart = std::chrono::steady_clock::now();
    const Lines lines =
        RunProgram({"/usr/bin/env", "XDG_CONFIG_HOME=" + strConfigHome, strDir + "/regprobe-poll",
                    "--config", m_strConfig, "--connection", "com1", "--once", "--quantity", "2"},
                   &nStatus, true);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(lines.at(0), "[0]=11 0xb [1]=22 0x16");
    // The output ended with the poller, not with the server it started,
    // which stays for its linger time (10 s) holding nothing of ours.
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(5));
    // The started server would linger a while after its last client: ended here.
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "cmdline");
        std::string strArgv0;
        if (std::getline(in, strArgv0, '\0') && strArgv0 == strDir + "/modbus-serial-server") {
            ::kill(std::stoi(entry.path().filename()), SIGTERM);
        }
    }
}

// The poller over another transport: given on the command line with the
// transport's options, and as a record of its kind saved in Regpr.cfg.
struct CTransport {
    const char* pszTransport;
    WORD nType;
    const char* pszName;
};

void PrintTo(const CTransport& t, std::ostream* pOut) {
    *pOut << t.pszName;
}

class PollTransport : public testing::Test {
protected:
    // The simulator serving strTransport (for tls with the device's
    // certificate, requiring the client's); false when it did not start.
    bool StartTransport(const std::string& strTransport) {
        Lines options = {"--transport", strTransport, "--holding", "0=11,22,33"};
        if (strTransport == "tls") {
            if (!CTestCertificates::Shared().Ok()) {
                return false;
            }
            options.insert(options.end(), {"--tls-cert", Cert("device.pem"), "--tls-key",
                                           Cert("device.key"), "--tls-ca", Cert("ca.pem")});
        }
        m_strPort = StartSim(m_sim, options);
        return !m_strPort.empty();
    }

    // Every line of a read of three registers, standard error too.
    static Lines Poll(const Lines& options, int* pnStatus) {
        return RunProgram(Lines{REGPROBE_POLL_PROGRAM, "--once", "--quantity", "3"} + options,
                          pnStatus, true);
    }

    static std::string Cert(const std::string& strName) {
        return CTestCertificates::Shared().Path(strName);
    }
    // For tls the client's files, with the key named.
    Lines Options(const std::string& strTransport, const std::string& strKey = "client.key") {
        Lines options = {"--transport", strTransport, "--port", m_strPort, "--timeout", "3000"};
        if (strTransport == "tls") {
            options.insert(options.end(), {"--ca", Cert("ca.pem"), "--cert", Cert("client.pem"),
                                           "--key", Cert(strKey)});
        }
        return options;
    }
    // A record of the kind for the simulator, saved; the options to poll it.
    Lines Save(WORD nType, const std::string& strKey) {
        CConnections connections;
        CRemoteModbus* pModbus = connections.Add("dev", nType)->GetRemoteModbus();
        pModbus->SetHost("127.0.0.1");
        pModbus->SetPort(WORD(std::stoi(m_strPort)));
        pModbus->SetTimeout(3000);
        if (auto* pTls = dynamic_cast<CTlsModbus*>(pModbus)) {
            pTls->SetCaFile(Cert("ca.pem"));
            pTls->SetCertFile(Cert("client.pem"));
            pTls->SetKeyFile(Cert(strKey));
        }
        EXPECT_TRUE(SaveConnections(connections, m_dir.Path() + "/Regpr.cfg"));
        return {"--config", m_dir.Path() + "/Regpr.cfg", "--connection", "dev"};
    }

    const char* const kValues = "[0]=11 0xb [1]=22 0x16 [2]=33 0x21";
    CTempDir m_dir;
    CChildProcess m_sim;
    std::string m_strPort;
};

class PollEachTransport : public PollTransport, public testing::WithParamInterface<CTransport> {};

TEST_P(PollEachTransport, ReadsGivenHereAndAsASavedRecord) {
    const CTransport& t = GetParam();
    ASSERT_TRUE(StartTransport(t.pszTransport));
    int nStatus = -1;
    EXPECT_EQ(Poll(Options(t.pszTransport), &nStatus).at(0), kValues);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(Poll(Save(t.nType, "client.key"), &nStatus).at(0), kValues);
    EXPECT_EQ(nStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Transports, PollEachTransport,
    testing::Values(CTransport{"rtu-over-tcp", CONNECTION_RTU_OVER_TCP, "RtuOverTcp"},
                    CTransport{"udp", CONNECTION_UDP, "Udp"},
                    CTransport{"tls", CONNECTION_TLS, "Tls"}),
    [](const testing::TestParamInfo<CTransport>& info) { return info.param.pszName; });

// Standard input is not a terminal here: the passphrase comes from the
// file's first line, given here or for a saved record, and without the
// file the program says how to give it.
TEST_F(PollTransport, AnEncryptedKeysPassphraseComesFromAFile) {
    ASSERT_TRUE(StartTransport("tls"));
    const Lines options = Options("tls", "client-enc.key");
    int nStatus = -1;
    EXPECT_EQ(Poll(options, &nStatus),
              Lines{"regprobe-poll: the key " + Cert("client-enc.key") +
                    " is encrypted; give its passphrase with --key-passphrase-file FILE"});
    EXPECT_EQ(nStatus, 1);

    const std::string strPass = m_dir.Path() + "/pass";
    std::ofstream(strPass) << CTestCertificates::PASSPHRASE << "\nnot this line\n";
    const Lines passphrase = {"--key-passphrase-file", strPass};
    EXPECT_EQ(Poll(options + passphrase, &nStatus).at(0), kValues);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(Poll(Save(CONNECTION_TLS, "client-enc.key") + passphrase, &nStatus).at(0), kValues);
    EXPECT_EQ(nStatus, 0);
}

}  // namespace
