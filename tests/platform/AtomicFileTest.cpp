// Whole-file replacement under the worst a save meets: killed at any point,
// and racing another save of the same file.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/AtomicFile.h"
#include "tests/support/TempDir.h"

namespace {

// Large enough that a save spends a while writing.
constexpr size_t kContentBytes = 256 * 1024;

class AtomicFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_dir.Path().empty()); }

    // Saves the file whole, of one repeated letter, in small writes. 0 or errno.
    int Save(char chLetter) const {
        CAtomicFile file;
        if (const int nError = file.Begin(m_strPath)) {
            return nError;
        }
        const std::string chunk(4096, chLetter);
        for (size_t n = 0; n < kContentBytes; n += chunk.size()) {
            if (::write(file.GetFd(), chunk.data(), chunk.size()) !=
                static_cast<ssize_t>(chunk.size())) {
                return errno;
            }
        }
        return file.Commit();
    }

    // A child that saves the file over and over until it is killed.
    pid_t StartSaving(char chLetter) const {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0; i < 100000; ++i) {
                if (Save(chLetter) != 0) {
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
        return pid;
    }

    // Empty when the file is one whole save; otherwise what is wrong.
    std::string CheckWhole() const {
        std::ifstream in(m_strPath, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        if (text.size() != kContentBytes) {
            return "size " + std::to_string(text.size());
        }
        if (text.find_first_not_of(text[0]) != std::string::npos ||
            (text[0] != 'A' && text[0] != 'B')) {
            return "mixed content";
        }
        return "";
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        if (DIR* pDir = ::opendir(m_strDir.c_str())) {
            while (const dirent* pEntry = ::readdir(pDir)) {
                const std::string strName = pEntry->d_name;
                if (strName != "." && strName != "..") {
                    names.push_back(strName);
                }
            }
            ::closedir(pDir);
        }
        return names;
    }

    CTempDir m_dir;
    const std::string m_strDir = m_dir.Path();
    const std::string m_strPath = m_strDir + "/target";
};

TEST_F(AtomicFile, KilledSavesLeaveAWholeFileAndOneTemporaryAtMost) {
    ASSERT_EQ(Save('A'), 0);
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> micros(0, 20000);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int nRound = 0; nRound < 50 && std::chrono::steady_clock::now() < deadline; ++nRound) {
        // Two at once, so that the lock is contended too.
        const pid_t first = StartSaving('A');
        const pid_t second = StartSaving('B');
        ASSERT_GT(first, 0);
        ASSERT_GT(second, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(micros(random)));
        ::kill(first, SIGKILL);
        std::this_thread::sleep_for(std::chrono::microseconds(micros(random) / 4));
        ::kill(second, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(first, &status, 0), first);
        EXPECT_TRUE(WIFSIGNALED(status)) << "a save failed in round " << nRound;
        ASSERT_EQ(::waitpid(second, &status, 0), second);
        EXPECT_TRUE(WIFSIGNALED(status)) << "a save failed in round " << nRound;

        ASSERT_EQ(CheckWhole(), "") << "round " << nRound;
        const std::vector<std::string> names = Names();
        ASSERT_LE(names.size(), 2u) << "round " << nRound;
    }
    // What a killed save leaves is cleared by the next save; one is planted
    // in case the kills happened to leave none.
    std::ofstream(CAtomicFile::TempPathOf(m_strPath)) << "stale";
    ASSERT_EQ(Save('B'), 0);
    EXPECT_EQ(Names(), std::vector<std::string>{"target"});
    EXPECT_EQ(CheckWhole(), "");
}

}  // namespace
