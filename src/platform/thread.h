// Threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/handle.h"

namespace kestrowan {

using ThreadMain = void (*)(void* argument);

// Starts a thread with the given stack size. Returns kNoHandle on failure.
Handle startThread(ThreadMain main, void* argument, std::size_t stackSize);

// Lets the thread end on its own: nothing will join it.
void detachThread(Handle thread);

// Waits up to `timeoutMs` milliseconds for the thread to end. Returns true if it ended.
bool joinThread(Handle thread, std::uint32_t timeoutMs);

}  // namespace kestrowan
