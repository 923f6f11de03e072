#include "core/fatal_error.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/messages.h"

namespace kestrowan {
namespace {

void failAtOnce(std::atomic<bool>& go, const char* message) {
    while (!go.load()) {
    }
    fatalError(message, kNoHandle);
}

void twoFailuresAtOnce() {
    std::atomic<bool> go{false};
    std::thread first(failAtOnce, std::ref(go), message::kReadError);
    std::thread second(failAtOnce, std::ref(go), message::kWriteError);
    go.store(true);
    first.join();
    second.join();
}

TEST(FatalErrorDeathTest, TwoThreadsAtOnceWriteOneLine) {
    EXPECT_EXIT(twoFailuresAtOnce(), testing::ExitedWithCode(0),
                "^info string Kestrowan: FEHLER [0-9-]+; (Lesefehler|Schreibfehler)\n$");
}

}  // namespace
}  // namespace kestrowan
