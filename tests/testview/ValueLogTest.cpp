// The value log against real files in a temporary directory.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "tests/support/FileLines.h"
#include "tests/support/TempDir.h"
#include "testview/ValueLog.h"

namespace {
class ValueLog : public ::testing::Test {
protected:
    std::vector<std::string> Lines() const { return FileLines(m_strPath); }
    CTempDir m_dir;
    std::string m_strDir = m_dir.Path(), m_strPath = m_strDir + "/values.csv";
};

TEST(ValueLogLine, TimestampColumnsAndQuotedFields) {
    // 2026-12-07 14:09:01.007 UTC
    const std::int64_t nMillis = 1796652541007;
    EXPECT_EQ(FormatLogLine(nMillis, "127.0.0.1:1502", "1", "Read Output Registers", "No Error",
                            20114, {"[0]=1 0x1", "[1]=, 0x2c", "[2]=\" 0x22"}),
              "2026-12-07T14:09:01.007Z,127.0.0.1:1502,1,Read Output Registers,No Error,20.114,"
              "[0]=1 0x1,\"[1]=, 0x2c\",\"[2]=\"\" 0x22\"");
}

TEST_F(ValueLog, HeaderOnceThenLinesAppendedAcrossOpens) {
    CValueLog log;
    CString strError;
    ASSERT_TRUE(log.Open(m_strPath, strError)) << strError;
    log.Append("a,1");
    log.Close();
    log.Append("dropped: closed");
    ASSERT_TRUE(log.Open(m_strPath, strError));
    log.Append("b,2");
    log.Close();
    EXPECT_EQ(Lines(), (std::vector<std::string>{g_szLogHeader, "a,1", "b,2"}));
    EXPECT_FALSE(log.Open(m_strDir + "/no/such/dir.csv", strError));
    EXPECT_NE(strError.find("no/such/dir.csv"), CString::npos);
}

TEST_F(ValueLog, ClosedUnderLoadEveryLineIsWholeAndNoneIsSkipped) {
    CValueLog log;
    CString strError;
    ASSERT_TRUE(log.Open(m_strPath, strError));
    std::atomic<bool> bGo{true};
    std::atomic<int> nAppended{0};
    std::thread producer([&] {
        for (int i = 0; bGo && i < 2000000; ++i) {
            log.Append("line," + std::to_string(i) + "," + std::string(40, 'x'));
            nAppended = i + 1;
        }
    });
    while (nAppended < 20000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    log.Close();
    const int nBeforeStop = nAppended;
    bGo = false;
    producer.join();
    const std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), size_t(1 + 20000));
    EXPECT_LE(lines.size(), size_t(1 + nBeforeStop + 1));
    for (size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i], "line," + std::to_string(i - 1) + "," + std::string(40, 'x'));
    }
    EXPECT_EQ(FileText(m_strPath).back(), '\n');
}

}  // namespace
