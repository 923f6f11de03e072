#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "platform/handle.h"

namespace kestrowan {

namespace {

HANDLE native(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

DWORD stdHandleId(StdStream stream) {
    return stream == StdStream::input ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE;
}

// writeHandle's loop, which also publishes the count taken so far, for a waiter that may stop
// waiting before the loop ends.
std::int64_t writeCounting(Handle handle, const void* data, std::uint32_t size,
                           std::atomic<std::int64_t>* progress) {
    const char* bytes = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
        DWORD count = 0;
        if (!WriteFile(native(handle), bytes + done, size - done, &count, nullptr)) {
            return done == 0 ? -1 : std::int64_t{done};
        }
        if (count == 0) {
            break;  // no progress: report the short write rather than spin
        }
        done += count;
        if (progress != nullptr) {
            progress->store(done);
        }
    }
    return done;
}

// A bounded write's thread may outlive the call that started it, blocked in a write nobody
// takes, so it owns a copy of the bytes and its record. The thread and the caller each give up
// their share when done with it; the second of them frees it.
struct BoundedWrite {
    Handle handle;
    std::uint32_t size;
    std::unique_ptr<char[]> bytes;
    std::atomic<std::int64_t> progress{0};
    std::atomic<bool> released{false};
    // Set by the thread before it ends, read by the caller only once it has seen it end.
    std::int64_t result = 0;
    DWORD error = 0;
};

void release(BoundedWrite* write) {
    if (write->released.exchange(true)) {
        delete write;
    }
}

DWORD WINAPI runBoundedWrite(LPVOID raw) {
    auto* write = static_cast<BoundedWrite*>(raw);
    write->result = writeCounting(write->handle, write->bytes.get(), write->size, &write->progress);
    write->error = GetLastError();
    release(write);
    return 0;
}

// The thread does nothing but the write: a small stack, reserved rather than committed.
constexpr SIZE_T kBoundedWriteStack = 64 * 1024;

}  // namespace

static_assert(sizeof(HANDLE) == sizeof(Handle));

Handle stdHandle(StdStream stream) {
    return reinterpret_cast<Handle>(GetStdHandle(stdHandleId(stream)));
}

// startProcess hands the process it starts the ones installed here, so the launch code swaps
// them in around process creation.
bool setStdHandle(StdStream stream, Handle handle) {
    return SetStdHandle(stdHandleId(stream), native(handle)) != 0;
}

std::int64_t readHandle(Handle handle, void* buffer, std::uint32_t size) {
    DWORD count = 0;
    // The writer closing its end is the end of the stream, not a failure.
    if (!ReadFile(native(handle), buffer, size, &count, nullptr) &&
        GetLastError() != ERROR_BROKEN_PIPE) {
        return -1;
    }
    if (count == 0) {
        SetLastError(0);
    }
    return count;
}

std::int64_t writeHandle(Handle handle, const void* data, std::uint32_t size) {
    return writeCounting(handle, data, size, nullptr);
}

// A pipe cannot be waited on until it takes more, so the write runs on a thread of its own,
// and the wait is for that thread.
std::int64_t writeHandleWithin(Handle handle, const void* data, std::uint32_t size,
                               std::uint32_t timeoutMs) {
    if (size == 0) {
        return 0;
    }
    auto* write = new (std::nothrow) BoundedWrite{handle, size, nullptr};
    if (write != nullptr) {
        write->bytes.reset(new (std::nothrow) char[size]);
    }
    HANDLE thread = nullptr;
    if (write != nullptr && write->bytes != nullptr) {
        std::copy_n(static_cast<const char*>(data), size, write->bytes.get());
        thread = CreateThread(nullptr, kBoundedWriteStack, runBoundedWrite, write,
                              STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    }
    if (thread == nullptr) {
        // Without memory or a thread, an unbounded write is still better than none.
        delete write;
        return writeHandle(handle, data, size);
    }
    const bool ended = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    if (!ended) {
        // Frees the thread where the system can break off a blocked write; where it cannot,
        // the thread stays blocked and frees the record if the write ever returns.
        CancelSynchronousIo(thread);
    }
    CloseHandle(thread);
    const std::int64_t result = ended ? write->result : write->progress.load();
    const DWORD error = ended ? write->error : ERROR_TIMEOUT;
    release(write);
    SetLastError(error);
    return result;
}

void flushHandle(Handle handle) {
    // On a pipe this waits until the reader has taken everything written so far. It fails on
    // a console, which needs no flushing; either way there is nothing to report.
    FlushFileBuffers(native(handle));
}

bool closeHandle(Handle handle) {
    return CloseHandle(native(handle)) != 0;
}

}  // namespace kestrowan
