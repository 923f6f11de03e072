// A write that the caller can stop waiting for. A write to a pipe that nobody reads cannot be
// bounded on its own without making the handle non-blocking, and that flag would belong to every
// process that shares the handle's open file description: the GUI's standard error, the
// engine's output pipe. So the write runs on a thread of its own, and the wait is for that
// thread.
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "platform/handle.h"
#include "platform/thread.h"

namespace kestrowan {

namespace {

// The thread may outlive the call that started it, blocked in a write nobody takes, so it owns
// a copy of the bytes and its record. The thread and the caller each give up their share when
// done with it; the second of them frees it.
struct BoundedWrite {
    Handle handle;
    std::uint32_t size;
    std::unique_ptr<char[]> bytes;
    std::atomic<bool> released{false};
    // Written by the thread before it ends, read by the caller only once it has seen it end.
    bool whole = false;
};

void release(BoundedWrite* write) {
    if (write->released.exchange(true)) {
        delete write;
    }
}

void runBoundedWrite(void* raw) {
    auto* write = static_cast<BoundedWrite*>(raw);
    write->whole = writeHandle(write->handle, write->bytes.get(), write->size) == write->size;
    release(write);
}

// The thread does nothing but the write.
constexpr std::size_t kBoundedWriteStack = 64 * 1024;

}  // namespace

bool writeHandleWithin(Handle handle, const void* data, std::uint32_t size,
                       std::uint32_t timeoutMs) {
    auto* write = new (std::nothrow) BoundedWrite{handle, size, nullptr};
    if (write != nullptr) {
        write->bytes.reset(new (std::nothrow) char[size]);
    }
    if (write != nullptr && write->bytes != nullptr) {
        std::memcpy(write->bytes.get(), data, size);
    }
    const Handle thread = write != nullptr && write->bytes != nullptr
                              ? startThread(runBoundedWrite, write, kBoundedWriteStack)
                              : kNoHandle;
    if (thread == kNoHandle) {
        // Without memory or a thread, an unbounded write is still better than none.
        delete write;
        return writeHandle(handle, data, size) == size;
    }
    const bool ended = joinThread(thread, timeoutMs);
    if (!ended) {
        cancelBlockingCall(thread);
        detachThread(thread);
    }
    const bool whole = ended && write->whole;
    release(write);
    return whole;
}

}  // namespace kestrowan
