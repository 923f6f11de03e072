// The filter's one way out after a failure, and its clock.
#pragma once

#include <cstdint>

#include "platform/handle.h"

namespace kestrowan {

// Writes the error line to standard error, terminates the engine if `engineProcess` is a
// process, and ends the filter with status 0. Safe from either thread: only the first caller
// gets through, a later one waits for the process to end.
[[noreturn]] void fatalError(const char* message, Handle engineProcess);

// Ends the process with status 0 after a normal run. If an error exit is already under way,
// waits for it to end the process instead, so the process ends once.
[[noreturn]] void finishProcess();

// Milliseconds from a clock that never steps back, always at or above 0.
std::int64_t nowMs();

}  // namespace kestrowan
