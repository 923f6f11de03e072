#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <cerrno>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "platform/handle.h"
#include "platform/system.h"

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
            return done == 0 && n < 0 ? -1 : std::int64_t{done};
        }
    }
    return done;
}

// Non-blocking for the call's length, so that a full pipe makes the write return and the wait
// can be bounded by poll.
std::int64_t writeHandleWithin(Handle handle, const void* data, std::uint32_t size,
                               std::uint32_t timeoutMs) {
    const int fd = static_cast<int>(handle);
    const int flags = fcntl(fd, F_GETFL);
    const bool blocking = flags >= 0 && (flags & O_NONBLOCK) == 0;
    if (flags < 0 || (blocking && fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)) {
        return writeHandle(handle, data, size);
    }
    const bool limited = timeoutMs != kNoTimeLimit;
    const std::int64_t deadline = monotonicMs() + timeoutMs;
    const char* bytes = static_cast<const char*>(data);
    std::uint32_t done = 0;
    bool failed = false;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || errno != EAGAIN) {
            failed = n < 0;
            break;
        }
        const std::int64_t left = deadline - monotonicMs();
        if (limited && left <= 0) {
            errno = ETIMEDOUT;
            break;
        }
        pollfd writable{fd, POLLOUT, 0};
        // A signal or a broken pipe ends the poll early; the next write tells which.
        poll(&writable, 1,
             limited ? static_cast<int>(std::min<std::int64_t>(left, INT32_MAX)) : -1);
    }
    const int error = errno;
    if (blocking) {
        fcntl(fd, F_SETFL, flags);
    }
    errno = error;
    return failed && done == 0 ? -1 : std::int64_t{done};
}

void flushHandle(Handle) {
    // A write on a pipe reaches the reader at once; there is nothing to push.
}

bool closeHandle(Handle handle) {
    return ::close(static_cast<int>(handle)) == 0;
}

}  // namespace kestrowan
