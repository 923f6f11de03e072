// Threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/handle.h"

namespace kestrowan {

using ThreadMain = void (*)(void* argument);

// The stack size to ask for: `requested`, or, where that is below the platform's `minimum`
// (131072 bytes on arm64, where pages may be 64 KiB), the minimum rounded up to whole pages.
constexpr std::size_t validStackSize(std::size_t requested, std::size_t minimum,
                                     std::size_t pageSize) {
    return requested >= minimum ? requested : (minimum + pageSize - 1) / pageSize * pageSize;
}

// Starts a thread with the given stack size, raised where the platform needs more. Returns
// kNoHandle on failure.
Handle startThread(ThreadMain main, void* argument, std::size_t stackSize);

// Starts a thread as startThread does, that ends on its own: nothing joins it, and the process
// may end while it runs. Returns false on failure.
bool startDetachedThread(ThreadMain main, void* argument, std::size_t stackSize);

// Waits up to `timeoutMs` milliseconds for the thread to end. Returns true if it ended, and the
// handle is then gone; otherwise it is still to be joined or detached.
bool joinThread(Handle thread, std::uint32_t timeoutMs);

}  // namespace kestrowan
