#include <windows.h>

#include "platform/handle.h"

namespace kestrowan {

namespace {

HANDLE native(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

DWORD stdHandleId(StdStream stream) {
    return stream == StdStream::input ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE;
}

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
    }
    return done;
}

// A pipe here has no way to say whether it has room, nor to wait until it has: writes that must
// not hold the caller go to a thread of their own instead.
std::int64_t writeHandleNow(Handle, const void*, std::uint32_t) {
    return 0;
}

bool setNonBlockingWrites(Handle) {
    return false;
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
