// What the POSIX files share about descriptors that may be non-blocking.
#pragma once

#include "platform/handle.h"

namespace kestrowan {

// After a read or write on `handle` that failed: if it failed only because the descriptor is
// non-blocking and not ready, waits until it is ready for `events` (POLLIN, POLLOUT) and returns
// true, so that the call can be tried again; returns false for any other failure.
bool waitUntilReady(Handle handle, short events);

}  // namespace kestrowan
