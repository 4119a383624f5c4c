// regprobe-poll run as a user runs it, against the simulator: rows labelled
// as the test window labels them, no values after a failed read, the
// window's statistics line, and one clear line for a bad number.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace {
using Lines = std::vector<std::string>;

class PollProgram : public ::testing::Test {
protected:
    void SetUp() override {
        std::string strLine;
        const std::string strPrefix = "listening on 127.0.0.1:";
        ASSERT_TRUE(m_sim.Start({REGPROBE_SIM_PROGRAM, "--listen", "127.0.0.1:0", "--holding",
                                 "0=10,11,12,13", "--float", "10=1.5", "--size", "holding=100"}));
        ASSERT_TRUE(m_sim.ReadLine(strLine, 10000));
        ASSERT_EQ(strLine.rfind(strPrefix, 0), 0u) << strLine;
        m_strPort = strLine.substr(strPrefix.size());
    }

    // Every line the poller prints (standard error too), and its exit status.
    Lines Run(std::vector<std::string> options, int* pnStatus) {
        CChildProcess poll;
        options.insert(options.begin(), REGPROBE_POLL_PROGRAM);
        EXPECT_TRUE(poll.Start(options, true));
        Lines lines;
        std::string strLine;
        while (lines.size() < 100 && poll.ReadLine(strLine, 10000)) {
            lines.push_back(strLine);
        }
        *pnStatus = poll.Wait(10000);
        return lines;
    }

    std::vector<std::string> Device() { return {"--port", m_strPort, "--interval", "0"}; }

    CChildProcess m_sim;
    std::string m_strPort;
};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(PollProgram, RowsCarryTheAddressOfTheirRegister) {
    int nStatus = -1;
    Lines lines =
        Run(Device() + Lines{"--address", "1", "--count", "2", "--cycles", "1"}, &nStatus);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[1]=11 0xb [2]=12 0xc");
    EXPECT_EQ(lines[1].rfind("Ok (", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("1 Errors=0  ", 0), 0u) << lines[2];
    EXPECT_EQ(nStatus, 0);

    lines =
        Run(Device() + Lines{"--address", "10", "--count", "1", "--type", "float", "--cycles", "1"},
            &nStatus);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "[10]=1.5");
}

TEST_F(PollProgram, AFailedReadPrintsItsStatusAndNoValues) {
    int nStatus = -1;
    // Registers 98-102: past the end of the device's 100.
    const Lines lines =
        Run(Device() + Lines{"--address", "98", "--count", "5", "--cycles", "2"}, &nStatus);
    EXPECT_EQ(lines.size(), 4u);
    for (size_t i = 0; i + 1 < lines.size(); i += 2) {
        EXPECT_EQ(lines[i].rfind("Modbus device return an exception code 2 (", 0), 0u) << lines[i];
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3].rfind("2 Errors=2  ", 0), 0u) << lines[3];
    EXPECT_EQ(nStatus, 1);
}

TEST_F(PollProgram, TheRateIsThatOfEachReadAndOfTheLastTenEveryTenth) {
    int nStatus = -1;
    const Lines lines = Run(Device() + Lines{"--count", "1", "--cycles", "10"}, &nStatus);
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
         {Lines{"--port", "x"}, Lines{"--count", "-1"}, Lines{"--port", "70000"},
          Lines{"--interval", "10001"}, Lines{"--address", "12abc"}, Lines{"--function", "nope"}}) {
        int nStatus = -1;
        const Lines lines = Run(options, &nStatus);
        ASSERT_EQ(lines.size(), 1u) << options[0];
        EXPECT_EQ(lines[0].rfind("regprobe-poll: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(options[1] == "nope" ? "nope" : options[0]), std::string::npos)
            << lines[0];
        EXPECT_EQ(nStatus, 2) << options[0];
    }
}
}  // namespace
