// Runs the tests inside one Qt application; listing the tests needs none.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>

#include "res/RegprobeResources.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    AfxSetResourceHandle(&RegprobeResources());
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    // The program's settings (recent workspaces, preferences) go to a
    // directory of this run's own, never the user's.
    char szConfig[] = "/tmp/regprobe-ui-config-XXXXXX";
    if (::mkdtemp(szConfig) != nullptr) {
        ::setenv("XDG_CONFIG_HOME", szConfig, 1);
    }
    QApplication app(argc, argv);
    const int nResult = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(szConfig, ec);
    return nResult;
}
