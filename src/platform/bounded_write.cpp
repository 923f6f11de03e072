// A write that the caller can stop waiting for. A write to a pipe that nobody reads cannot be
// bounded on its own without making the handle non-blocking, and that flag would belong to every
// process that shares the handle's open file description: the GUI's standard error, the
// engine's output pipe. So the write runs on a thread of its own, and the wait is for that
// thread's word that it is done.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "platform/handle.h"
#include "platform/thread.h"

namespace kestrowan {

namespace {

// The thread may outlive the call that started it, blocked in a write nobody takes, so it owns
// a copy of the bytes and its record. The thread and the caller each give up their share when
// done with it; the second of them frees it.
struct BoundedWrite {
    Handle handle = kNoHandle;
    std::uint32_t size = 0;
    std::unique_ptr<char[]> bytes;
    std::mutex lock;
    std::condition_variable changed;
    bool finished = false;
    bool whole = false;
    std::atomic<bool> released{false};
};

void release(BoundedWrite* write) {
    if (write->released.exchange(true)) {
        delete write;
    }
}

void runBoundedWrite(void* raw) {
    auto* write = static_cast<BoundedWrite*>(raw);
    const bool whole = writeHandle(write->handle, write->bytes.get(), write->size) == write->size;
    {
        std::lock_guard guard(write->lock);
        write->finished = true;
        write->whole = whole;
    }
    write->changed.notify_all();
    release(write);
}

// The thread does nothing but the write.
constexpr std::size_t kBoundedWriteStack = 64 * 1024;

}  // namespace

bool writeHandleWithin(Handle handle, const void* data, std::uint32_t size,
                       std::uint32_t timeoutMs) {
    auto* write = new (std::nothrow) BoundedWrite;
    if (write != nullptr) {
        write->handle = handle;
        write->size = size;
        write->bytes.reset(new (std::nothrow) char[size]);
    }
    if (write != nullptr && write->bytes != nullptr) {
        std::memcpy(write->bytes.get(), data, size);
    }
    if (write == nullptr || write->bytes == nullptr ||
        !startDetachedThread(runBoundedWrite, write, kBoundedWriteStack)) {
        // Without memory or a thread, an unbounded write is still better than none.
        delete write;
        return writeHandle(handle, data, size) == size;
    }
    std::unique_lock guard(write->lock);
    const auto finished = [write] { return write->finished; };
    if (timeoutMs == kNoTimeLimit) {
        write->changed.wait(guard, finished);
    } else {
        write->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), finished);
    }
    const bool whole = write->finished && write->whole;
    guard.unlock();
    // A write given up on goes on where it waits, and may yet complete; the process may also end
    // under it.
    release(write);
    return whole;
}

}  // namespace kestrowan
