// Two threads failing at once, as when a GUI that goes away closes both of the filter's
// streams: one error line, one exit.
#include "core/fatal_error.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kestrowan {
namespace {

void failTogether() {
    std::atomic<bool> go{false};
    auto fail = [&go](const char* message) {
        while (!go.load()) {
        }
        fatalError(message, kNoHandle);
    };
    std::thread first(fail, "Lesefehler");
    std::thread second(fail, "Schreibfehler");
    go.store(true);
    first.join();
    second.join();
}

TEST(FatalErrorDeathTest, TwoThreadsAtOnceWriteOneLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(failTogether(), testing::ExitedWithCode(0),
                "^info string Kestrowan: FEHLER [0-9-]+; (Lesefehler|Schreibfehler)\n$");
}

}  // namespace
}  // namespace kestrowan
