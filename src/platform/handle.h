// Operating-system handles and byte I/O on them.
#pragma once

#include <cstdint>

namespace kestrowan {

// An fd on POSIX, a HANDLE on Win32. Wide enough for both; -1 is "none" on both, and 0 is a
// real handle (stdin) on POSIX, so it cannot serve as "none".
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// A time limit in milliseconds that sets none: all bits set, as TimeQuit's -1 comes out.
inline constexpr std::uint32_t kNoTimeLimit = UINT32_MAX;

enum class StdStream { input, output };

// The handle that the filter's own standard input or output refers to right now.
Handle stdHandle(StdStream stream);

// Installs `handle` as the standard stream that the next started process inherits.
bool setStdHandle(StdStream stream, Handle handle);

// Reads at most `size` bytes. Returns the count read, -1 on failure, or 0 at end of stream,
// where the last error code is cleared: nothing failed, and an error line should not say so.
std::int64_t readHandle(Handle handle, void* buffer, std::uint32_t size);

// Writes all `size` bytes, waiting for room as long as it takes; a write cut short by a signal
// is continued. Returns the count written, which is less than `size` only after a failure.
std::int64_t writeHandle(Handle handle, const void* data, std::uint32_t size);

// Writes as much of the bytes as the handle takes without waiting, and returns that count
// (0 if it takes nothing now), or -1 on failure. Only for a handle that setNonBlockingWrites
// readied.
std::int64_t writeHandleNow(Handle handle, const void* data, std::uint32_t size);

// Readies a handle whose open file description is the filter's alone for writeHandleNow; every
// other write on it still waits for room. False where the platform cannot (Windows). Never for a
// handle that another process shares: the flag would change that process's writes too.
bool setNonBlockingWrites(Handle handle);

// Writes as writeHandle does, on a thread of its own, and gives up waiting once `timeoutMs`
// milliseconds (kNoTimeLimit: no limit) have passed. Returns true if all of it was written in
// time. A write given up on may still complete later, whole; the handle's flags are left alone,
// so it may be one that other processes share.
bool writeHandleWithin(Handle handle, const void* data, std::uint32_t size,
                       std::uint32_t timeoutMs);

struct ByteSpan {
    const char* data;
    std::uint32_t size;
};

// Writes the spans in order, with as few calls as the platform allows and each span whole
// within one call; a write cut short by a signal is continued. Returns the total written,
// which is less than the spans' total only after a failure or a stall.
std::int64_t writeHandleSpans(Handle handle, const ByteSpan* spans, std::uint32_t count);

// Pushes written bytes on to the reader (a no-op where writes are not buffered).
void flushHandle(Handle handle);

bool closeHandle(Handle handle);

}  // namespace kestrowan
