// Whole-file replacement under the worst a save meets: killed at any point,
// and racing another save of the same file.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "connections/ConfigFile.h"
#include "connections/Connections.h"
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

// A save stopped while it holds the temporary (SIGSTOP, a hung disk) holds
// up the next one only for its wait.
TEST_F(AtomicFile, ASaveHeldUpByAnotherGivesUpAfterItsWait) {
    ASSERT_EQ(Save('A'), 0);
    const std::string strTemp = CAtomicFile::TempPathOf(m_strPath);
    CUniqueFd held(::open(strTemp.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(held.IsValid());
    ASSERT_EQ(::flock(held.Get(), LOCK_EX), 0);
    CAtomicFile file;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(file.Begin(m_strPath, 200), EWOULDBLOCK);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1000));

    CConnections connections;
    CString strError;
    EXPECT_FALSE(SaveConnections(connections, m_strPath, &strError));
    EXPECT_EQ(strError, m_strPath + " is being saved by another program");
    EXPECT_EQ(CheckWhole(), "");
}

// Whatever else stands at the temporary's name is not ours to remove or
// write through: the save fails and names it.
class AtomicFileInTheWay : public AtomicFile, public ::testing::WithParamInterface<int> {};

TEST_P(AtomicFileInTheWay, IsLeftAloneAndNamed) {
    const std::string strTemp = CAtomicFile::TempPathOf(m_strPath);
    const std::string strElsewhere = m_strDir + "/elsewhere";
    std::ofstream(strElsewhere) << "keep";
    const mode_t kind = static_cast<mode_t>(GetParam());
    if (kind == S_IFLNK) {
        ASSERT_EQ(::symlink(strElsewhere.c_str(), strTemp.c_str()), 0);
    } else if (kind == S_IFDIR) {
        ASSERT_EQ(::mkdir(strTemp.c_str(), 0700), 0);
    } else {
        ASSERT_EQ(::mkfifo(strTemp.c_str(), 0600), 0);
    }
    CConnections connections;
    CString strError;
    EXPECT_FALSE(SaveConnections(connections, m_strPath, &strError));
    EXPECT_EQ(strError.rfind(strTemp + ": ", 0), 0u) << strError;
    struct stat st {};
    ASSERT_EQ(::lstat(strTemp.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, kind);
    std::ifstream in(strElsewhere);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
    EXPECT_NE(::access(m_strPath.c_str(), F_OK), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, AtomicFileInTheWay, ::testing::Values(S_IFLNK, S_IFDIR, S_IFIFO));

}  // namespace
