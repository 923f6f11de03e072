// The filter's one way out after a failure, and its clock.
#pragma once

#include <cstdint>

#include "platform/handle.h"

namespace kestrowan {

// Terminates the engine if `engineProcess` is a process, writes the error line with the calling
// thread's last error code to standard error, and ends the filter with status 0. Safe from any
// thread: only the first caller gets through, a later one waits for the process to end.
[[noreturn]] void fatalError(const char* message, Handle engineProcess);

// What the error line may wait for a reader: as long as an ending takes otherwise, TimeQuit at
// its default and the output thread's 300 ms.
inline constexpr std::uint32_t kErrorLineMs = 1300;

// As fatalError, with the error code given, and the error line's write given up after `lineMs`
// milliseconds, so that a standard error that nobody reads cannot hold the filter.
[[noreturn]] void fatalError(long code, const char* message, Handle engineProcess,
                             std::uint32_t lineMs = kErrorLineMs);

// Ends the process with status 0 after a normal run. If an error exit is already under way,
// waits for it to end the process instead, so the process ends once.
[[noreturn]] void finishProcess();

// Blocks the calling thread for good: another thread has the filter's end in hand.
[[noreturn]] void waitForProcessEnd();

// Milliseconds from a clock that never steps back, always at or above 0.
std::int64_t nowMs();

}  // namespace kestrowan
