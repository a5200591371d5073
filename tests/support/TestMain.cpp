// The main of the test programs: gtest's own, plus the clean-loop check after every test.
#include <gtest/gtest.h>

#include "CleanLoopListener.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    testsupport::InstallCleanLoopListener();
    return RUN_ALL_TESTS();
}
