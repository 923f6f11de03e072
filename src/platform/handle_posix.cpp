#include <unistd.h>
#include <cerrno>

#include <atomic>

#include "platform/handle.h"

namespace kestrowan {

namespace {
// POSIX has no settable standard handles: this table holds what the next started process gets
// as its fds 0 and 1, while the filter's own fds 0 and 1 stay untouched.
std::atomic<Handle> childStdHandles[2] = {STDIN_FILENO, STDOUT_FILENO};
}  // namespace

Handle stdHandle(StdStream stream) {
    return childStdHandles[static_cast<int>(stream)].load();
}

bool setStdHandle(StdStream stream, Handle handle) {
    childStdHandles[static_cast<int>(stream)].store(handle);
    return true;
}

std::int64_t readHandle(Handle handle, void* buffer, std::uint32_t size) {
    for (;;) {
        ssize_t n = ::read(static_cast<int>(handle), buffer, size);
        if (n == 0) {
            errno = 0;
        }
        if (n >= 0 || errno != EINTR) {
            return n;
        }
    }
}

std::int64_t writeHandle(Handle handle, const void* data, std::uint32_t size) {
    const char* bytes = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
        ssize_t n = ::write(static_cast<int>(handle), bytes + done, size - done);
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // A real error, or a write that made no progress.
            return done == 0 && n < 0 ? -1 : done;
        }
    }
    return done;
}

void flushHandle(Handle) {
    // A write on a pipe reaches the reader at once; there is nothing to push.
}

bool closeHandle(Handle handle) {
    return ::close(static_cast<int>(handle)) == 0;
}

}  // namespace kestrowan
