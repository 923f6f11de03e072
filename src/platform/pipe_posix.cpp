#include <fcntl.h>
#include <unistd.h>

#include "platform/pipe.h"

namespace kestrowan {

// Every end is close-on-exec: a started process receives its own ends through dup2 onto its
// fds 0 and 1, which clears the flag there, so no other end can leak into it.
bool createPipe(Handle& readEnd, Handle& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
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
