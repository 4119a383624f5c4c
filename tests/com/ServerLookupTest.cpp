// Where a server registered by name is looked for: the client's own
// directory first, then the installation's helper directory beside it, the
// build tree's server for the build tree's own programs, the system's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/com/rpc/RpcSettings.h"
#include "tests/com/ComTestSupport.h"

namespace {
void MakeFile(const std::string& strPath, mode_t mode) {
    std::ofstream(strPath) << "#!/bin/sh\n";
    ASSERT_EQ(::chmod(strPath.c_str(), mode), 0);
}

void MakeDirs(const std::string& strPath) {
    for (size_t n = 1; n != std::string::npos; n = strPath.find('/', n + 1)) {
        ::mkdir(strPath.substr(0, n).c_str(), 0700);
    }
    ::mkdir(strPath.c_str(), 0700);
}

class ServerLookup : public ::testing::Test {
protected:
    void SetUp() override {
        m_strBin = m_dir.Path() + "/usr/bin";
        MakeDirs(m_strBin);
        auto candidates = RpcLocalServerCandidates(m_strBin, "srv");
        ASSERT_EQ(candidates.size(), 3u);
        m_strHelper = candidates[1];
        MakeDirs(m_strHelper.substr(0, m_strHelper.rfind('/')));
    }
    CTempDir m_dir;
    std::string m_strBin, m_strHelper;
};

TEST_F(ServerLookup, OrderIsBesideThenTheInstallationThenTheSystem) {
    auto candidates = RpcLocalServerCandidates(m_strBin, "srv");
    EXPECT_EQ(candidates[0], m_strBin + "/srv");
    // The relative helper path lands under the same prefix as the client.
    char resolved[4096];
    ASSERT_NE(::realpath(m_strHelper.substr(0, m_strHelper.rfind('/')).c_str(), resolved), nullptr);
    EXPECT_EQ(std::string(resolved), m_dir.Path() + "/usr/libexec/regprobe");
    EXPECT_EQ(candidates[2].front(), '/');
    EXPECT_TRUE(candidates[2].ends_with("/libexec/regprobe/srv")) << candidates[2];
}

TEST_F(ServerLookup, FindsTheFirstExecutableInOrder) {
    // Nothing anywhere: the path beside the client, so failures name it.
    EXPECT_EQ(RpcFindLocalServer(m_strBin, "srv"), m_strBin + "/srv");
    MakeFile(m_strHelper, 0700);
    EXPECT_EQ(RpcFindLocalServer(m_strBin, "srv"), m_strHelper);
    // Not executable, or a directory of that name: the next place wins.
    MakeFile(m_strBin + "/srv", 0600);
    EXPECT_EQ(RpcFindLocalServer(m_strBin, "srv"), m_strHelper);
    ASSERT_EQ(::chmod((m_strBin + "/srv").c_str(), 0700), 0);
    EXPECT_EQ(RpcFindLocalServer(m_strBin, "srv"), m_strBin + "/srv");
    ::unlink((m_strBin + "/srv").c_str());
    ASSERT_EQ(::mkdir((m_strBin + "/srv").c_str(), 0700), 0);
    EXPECT_EQ(RpcFindLocalServer(m_strBin, "srv"), m_strHelper);
}

// This test's own program is one of the build tree's: it starts the server
// of this build, never an installed one. Copies of it elsewhere, or staged
// by CPack inside the tree, are installations and never look there.
TEST_F(ServerLookup, OnlyTheBuildTreesProgramsStartTheBuildsServer) {
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    std::string strOwnDir(exe, size_t(n));
    strOwnDir.erase(strOwnDir.rfind('/'));
    const std::string strTree = REGPROBE_BUILD_TREE;
    const std::string strServer = REGPROBE_SERVER_PROGRAM;
    const std::string strName = strServer.substr(strServer.rfind('/') + 1);
    EXPECT_EQ(RpcFindLocalServer(strOwnDir, strName), strServer);
    const struct {
        std::string strDir;
        bool bBuildTree;
    } dirs[] = {
        {strOwnDir, true},
        {strTree, true},
        {strTree + "/_CPack_Packages/Linux/DEB/regprobe/usr/bin", false},
        {strTree + "-asan/tests", false},
        {m_strBin, false},
    };
    for (const auto& d : dirs) {
        auto candidates = RpcLocalServerCandidates(d.strDir, strName);
        ASSERT_EQ(candidates.size(), d.bBuildTree ? 4u : 3u) << d.strDir;
        EXPECT_EQ(candidates[0], d.strDir + "/" + strName);
        // After the installation's own places, before the system's.
        EXPECT_EQ(candidates[2] == strServer, d.bBuildTree) << d.strDir;
        EXPECT_TRUE(candidates.back().ends_with("/libexec/regprobe/" + strName));
    }
}
}  // namespace
