// The fault tests' main: before any thread starts, a private mount table (as root) and the
// adoption of orphans, then GoogleTest.

#include "support/process_support.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    kestrova::test::privateMountTable();
    kestrova::test::adoptOrphans();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
