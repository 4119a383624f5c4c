// Runs the tests inside one Qt application; listing the tests needs none.
#include <gtest/gtest.h>

#include <QApplication>

#include "res/RegprobeResources.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    AfxSetResourceHandle(&RegprobeResources());
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
