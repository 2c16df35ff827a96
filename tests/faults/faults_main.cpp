// The fault tests' main: before any thread starts, a private mount table (as root) and the
// adoption of orphans, then GoogleTest.

#include "process_support.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    kestrova::faults::privateMountTable();
    kestrova::faults::adoptOrphans();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
