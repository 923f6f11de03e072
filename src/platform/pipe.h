// Anonymous pipes.
#pragma once

#include <cstdint>

#include "platform/handle.h"

namespace kestrowan {

// Creates a pipe whose ends a started process may inherit, holding about `size` bytes (0: the
// system's default; where the system allows less, it keeps its default). Returns false on
// failure.
bool createPipe(Handle& readEnd, Handle& writeEnd, std::uint32_t size);

// Makes a copy of `handle` that no started process inherits. Returns false on failure.
bool duplicateUninheritable(Handle handle, Handle& copy);

// Waits until the reader of the pipe whose write end is `writeEnd` has taken every byte written
// to it, or `process` has ended, for at most `timeoutMs` milliseconds (kNoTimeLimit: no limit).
// Returns false if the time ran out first. Nothing may be written to the pipe meanwhile.
bool waitPipeTaken(Handle writeEnd, Handle process, std::uint32_t timeoutMs);

}  // namespace kestrowan
