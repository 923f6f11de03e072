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

bool claimProcessEnd() {
    return !processEndClaimed.exchange(true);
}

}  // namespace

void waitForProcessEnd() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

void finishProcess() {
    if (!claimProcessEnd()) {
        waitForProcessEnd();
    }
    exitProcess(0);
}

void fatalError(const char* message, Handle engineProcess) {
    // Fetched before anything else can overwrite it.
    const long code = lastErrorCode();
    fatalError(code, message, engineProcess);
}

void fatalError(long code, const char* message, Handle engineProcess, std::uint32_t lineMs) {
    if (!claimProcessEnd()) {
        waitForProcessEnd();
    }
    char line[512];
    std::snprintf(line, sizeof line, "info string Kestrowan: FEHLER %ld; %s\n", code, message);
    // The engine goes first. It shares the standard error, and may have filled it for a GUI that
    // never reads it: a line written first could wait there with the engine still running.
    if (engineProcess != kNoHandle) {
        terminateProcess(engineProcess);
    }
    writeErrorLine(line, lineMs);
    exitProcess(0);
}

std::int64_t nowMs() {
    return monotonicMs();
}

}  // namespace kestrowan
