// What the POSIX files share about the filter's signal dispositions.
#pragma once

#include <cstdint>

namespace kestrowan {

// The signals (bit n - 1 for signal n) that the filter's own start found ignored, which stay
// ignored for the filter and a process it starts: nohup and a shell's background jobs ask for
// that, and the engine would inherit them so without the filter.
std::uint64_t signalsIgnoredAtStart();

}  // namespace kestrowan
