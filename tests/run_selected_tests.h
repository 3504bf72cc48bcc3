// The end of the main of every GoogleTest program of the project: runs the tests
// that --gtest_filter selects and fails when it selects none. ctest runs one test a
// process by its name, so a name that is not in the program (a test added to the
// sources of a program that then failed to build, a name mistyped) would otherwise
// pass with nothing run.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>

inline int runSelectedTests() {
    int result = RUN_ALL_TESTS();
    if (GTEST_FLAG_GET(list_tests)) return result;
    if (testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
        std::fprintf(stderr, "no test of this program matches the filter \"%s\"\n",
                     GTEST_FLAG_GET(filter).c_str());
        return 1;
    }
    return result;
}
