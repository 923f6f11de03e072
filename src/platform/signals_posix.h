// What the POSIX files share about the filter's signal dispositions.
#pragma once

#include <cstdint>

namespace kestrowan {

// Of the signals ignored now (bit n - 1 for signal n), those that a started process keeps
// ignored: the ones that the filter's own start found ignored. nohup and a shell's background
// jobs ask for that, and the engine would inherit them so without the filter.
std::uint64_t signalsLeftIgnored(std::uint64_t ignoredNow);

}  // namespace kestrowan
