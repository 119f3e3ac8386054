// The main of the test binaries that run tasks in a child process of their own: such a child is
// this binary started again, and must reach its task before GoogleTest or anything else starts.

#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (const std::optional<int> status = korvane::test::RunChildTaskIfAsked(argc, argv)) {
        return *status;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
