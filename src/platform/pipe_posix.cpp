#include <fcntl.h>
#include <unistd.h>

#include "platform/pipe.h"

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

}  // namespace kestrowan
