// Process-wide settings for the unit tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/system.h"

namespace {

// The filter ends the whole process with status 0 on any failure. Outside a death test that
// would end the test run early and still look like success, so it is turned into a failure.
void refuseExitDuringTest() {
    if (testing::internal::InDeathTestChild()) {
        return;
    }
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    if (test != nullptr) {
        std::fprintf(stderr, "the process was ended during %s.%s\n", test->test_suite_name(),
                     test->name());
        std::_Exit(1);
    }
}

class FilterEnvironment : public testing::Environment {
public:
    void SetUp() override {
        // The code under test runs with the filter's own process settings (SIGPIPE ignored).
        kestrowan::prepareProcess();
        // The relays run on threads, and a forking death test would copy just one of them.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        std::atexit(refuseExitDuringTest);
    }
};

const testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new FilterEnvironment);

}  // namespace
