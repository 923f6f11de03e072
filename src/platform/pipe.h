// Anonymous pipes.
#pragma once

#include "platform/handle.h"

namespace kestrowan {

// Creates a pipe whose ends a started process may inherit. Returns false on failure.
bool createPipe(Handle& readEnd, Handle& writeEnd);

// Makes a copy of `handle` that no started process inherits. Returns false on failure.
bool duplicateUninheritable(Handle handle, Handle& copy);

}  // namespace kestrowan
