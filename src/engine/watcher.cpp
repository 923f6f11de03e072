#include "engine/watcher.h"

#include <cstdint>
#include <cstdio>
#include <random>

#include "core/fatal_error.h"
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
    constexpr auto kNoLimit = UINT32_MAX;
    if (!waitProcess(state.engineProcess, kNoLimit)) {
        return;  // no news about the engine; the relays still notice its end on their own
    }
    // Nothing the engine started outlives it, and no helper that holds its output pipe keeps
    // the GUI from hearing of its end.
    terminateProcess(state.engineProcess);
    makeEndMarker(state.endMarker);
    state.engineEnded.store(1);
    // Taken, so that nobody closes it under the write. The marker lands behind the engine's last
    // byte. The write may wait for the output relay to make room, which only a GUI that does not
    // read keeps it from; the ending's own time limit covers that.
    const Handle childEnd = state.engineOutChildEnd.exchange(kNoHandle);
    if (childEnd != kNoHandle) {
        writeHandle(childEnd, state.endMarker.text, state.endMarker.length + 1);
        closeHandle(childEnd);
    }
}

}  // namespace kestrowan
