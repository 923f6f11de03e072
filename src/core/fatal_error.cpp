#include "core/fatal_error.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/process.h"
#include "platform/system.h"

namespace kestrowan {

namespace {

std::atomic<bool> processEndClaimed{false};

[[noreturn]] void waitForProcessEnd() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

bool claimProcessEnd() {
    return !processEndClaimed.exchange(true);
}

}  // namespace

void finishProcess() {
    if (!claimProcessEnd()) {
        waitForProcessEnd();
    }
    exitProcess(0);
}

void fatalError(const char* message, Handle engineProcess) {
    // Fetched before anything else can overwrite it.
    const long code = lastErrorCode();
    if (!claimProcessEnd()) {
        waitForProcessEnd();
    }
    std::fprintf(stderr, "info string Kestrowan: FEHLER %ld; %s\n", code, nativeText(message));
    std::fflush(stderr);
    if (engineProcess != kNoHandle) {
        terminateProcess(engineProcess);
    }
    exitProcess(0);
}

std::int64_t nowMs() {
    return monotonicMs();
}

}  // namespace kestrowan
