#include "engine/watcher.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <thread>

#include "core/fatal_error.h"
#include "core/messages.h"
#include "platform/handle.h"
#include "platform/process.h"

namespace kestrowan {

namespace {

// 64 random bits: an engine would have to guess them to pose as the marker, and none writes
// them by chance. The marker is made only once the engine has ended, so nothing it ever wrote
// can have been shaped after it.
void makeEndMarker(EndMarker& marker) {
    std::uint64_t bits = 0;
    try {
        std::random_device random;
        bits = (std::uint64_t{random()} << 32) | random();
    } catch (...) {
        bits = static_cast<std::uint64_t>(nowMs()) * 0x9E3779B97F4A7C15u;
    }
    const int length = std::snprintf(marker.text, sizeof marker.text, "\x1bkestrowan end %016llx\n",
                                     static_cast<unsigned long long>(bits));
    // The line feed is written, but not compared: the relay's lines come without it.
    marker.length = static_cast<std::uint32_t>(length) - 1;
}

}  // namespace

void watchEngine(void* raw) {
    FilterState& state = *static_cast<FilterState*>(raw);
    if (!waitProcess(state.engineProcess, kNoTimeLimit)) {
        return;  // no news about the engine; the relays still notice its end on their own
    }
    const std::int64_t since = nowMs();
    const auto timeQuit = static_cast<std::uint32_t>(state.timeQuit.load());
    // Nothing the engine started outlives it, and no helper that holds its output pipe keeps
    // the GUI from hearing of its end.
    terminateProcess(state.engineProcess);
    makeEndMarker(state.endMarker);
    state.engineEnded.store(1);
    // Taken, so that nobody closes it under the write. The marker lands behind the engine's last
    // byte. The write waits for room only while the output relay is held by a GUI that does not
    // read, and not for longer than the session's end may take. A write given up on still holds
    // the handle, which then stays open to the process's end.
    const Handle childEnd = state.engineOutChildEnd.exchange(kNoHandle);
    if (childEnd != kNoHandle &&
        writeHandleWithin(childEnd, state.endMarker.text, state.endMarker.length + 1, timeQuit)) {
        closeHandle(childEnd);
    }
    // The engine's own end is an error, which the output relay reports once the GUI has had all
    // that the engine wrote. A GUI that reads nothing hears of it all the same, as late as the
    // end of a session may come, unless the session has begun to end meanwhile.
    if (timeQuit == kNoTimeLimit) {
        return;
    }
    std::this_thread::sleep_until(
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(since + timeQuit + kOutputThreadQuitMs - nowMs()));
    if (state.quitting.load() == 0) {
        fatalError(0, message::kReadError, state.engineProcess);
    }
}

}  // namespace kestrowan
