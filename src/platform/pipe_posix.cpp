#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/system.h"

namespace kestrowan {

// Every end is close-on-exec: a started process receives its own ends through dup2 onto its
// fds 0 and 1, which clears the flag there, so no other end can leak into it.
bool createPipe(Handle& readEnd, Handle& writeEnd, std::uint32_t size) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    // Refused beyond /proc/sys/fs/pipe-max-size or a user's quota of pipe memory; the pipe
    // then works as well at its default size.
    if (size > 0) {
        ::fcntl(fds[0], F_SETPIPE_SZ, static_cast<int>(size));
    }
    readEnd = fds[0];
    writeEnd = fds[1];
    return true;
}

bool duplicateUninheritable(Handle handle, Handle& copy) {
    int fd = ::fcntl(static_cast<int>(handle), F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
        return false;
    }
    copy = fd;
    return true;
}

// Nothing announces that a pipe has been emptied, so its fill level is looked at every few
// milliseconds; the process's end, which the wait between two looks watches for, comes at once.
bool waitPipeTaken(Handle writeEnd, Handle process, std::uint32_t timeoutMs) {
    constexpr std::int64_t kLookAgainMs = 4;
    const bool unlimited = timeoutMs == kNoTimeLimit;
    const std::int64_t deadline = monotonicMs() + timeoutMs;
    for (;;) {
        int unread = 0;
        if (::ioctl(static_cast<int>(writeEnd), FIONREAD, &unread) != 0 || unread == 0) {
            return true;
        }
        const std::int64_t left = unlimited ? kLookAgainMs : deadline - monotonicMs();
        if (left <= 0) {
            return false;
        }
        if (waitProcess(process, static_cast<std::uint32_t>(std::min(left, kLookAgainMs)))) {
            return true;
        }
    }
}

}  // namespace kestrowan
