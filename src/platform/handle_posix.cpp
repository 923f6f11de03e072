#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <cerrno>

#include <atomic>
#include <cstdint>

#include "platform/handle.h"
#include "platform/ready_posix.h"

namespace kestrowan {

namespace {
// POSIX has no settable standard handles: this table holds what the next started process gets
// as its fds 0 and 1, while the filter's own fds 0 and 1 stay untouched.
std::atomic<Handle> childStdHandles[2] = {STDIN_FILENO, STDOUT_FILENO};
}  // namespace

bool waitUntilReady(Handle handle, short events) {
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
        return false;
    }
    // A GUI may hand over a stream that is non-blocking for its own sake, and the filter's own
    // end of the engine's input is one: there, the call waits here as it would have in the read
    // or write. A signal ends the wait early, and the call is simply tried again.
    pollfd entry{static_cast<int>(handle), events, 0};
    return ::poll(&entry, 1, -1) >= 0 || errno == EINTR;
}

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
        if (n >= 0 || (errno != EINTR && !waitUntilReady(handle, POLLIN))) {
            return n;
        }
    }
}

std::int64_t writeHandleNow(Handle handle, const void* data, std::uint32_t size) {
    const char* bytes = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
        ssize_t n = ::write(static_cast<int>(handle), bytes + done, size - done);
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;  // full: the rest is for later
        } else {
            // A real error, or a write that made no progress.
            return done == 0 && n < 0 ? -1 : std::int64_t{done};
        }
    }
    return done;
}

std::int64_t writeHandle(Handle handle, const void* data, std::uint32_t size) {
    const char* bytes = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
        const std::int64_t n = writeHandleNow(handle, bytes + done, size - done);
        if (n < 0) {
            return done == 0 ? -1 : std::int64_t{done};
        }
        done += static_cast<std::uint32_t>(n);
        if (done < size && !waitUntilReady(handle, POLLOUT)) {
            break;
        }
    }
    return done;
}

bool setNonBlockingWrites(Handle handle) {
    const int fd = static_cast<int>(handle);
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void flushHandle(Handle) {
    // A write on a pipe reaches the reader at once; there is nothing to push.
}

bool closeHandle(Handle handle) {
    return ::close(static_cast<int>(handle)) == 0;
}

}  // namespace kestrowan
