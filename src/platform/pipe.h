// Anonymous pipes.
#pragma once

#include "platform/handle.h"

namespace kestrowan {

// Creates a pipe whose ends a started process may inherit, holding about `size` bytes (0: the
// system's default; where the system allows less, it keeps its default). Returns false on
// failure.
bool createPipe(Handle& readEnd, Handle& writeEnd, std::uint32_t size);

// Makes a copy of `handle` that no started process inherits. Returns false on failure.
bool duplicateUninheritable(Handle handle, Handle& copy);

}  // namespace kestrowan
