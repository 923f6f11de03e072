// Preloaded into the filter, makes pidfd_open fail as on a kernel or in a sandbox without it.
#include <dlfcn.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstdarg>

namespace {
using Syscall = long (*)(long, ...);
// Looked up at load time: the filter's vfork child must not call into the dynamic linker.
const auto realSyscall = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
}  // namespace

extern "C" long syscall(long number, ...) {
    if (number == SYS_pidfd_open) {
        errno = ENOSYS;
        return -1;
    }
    va_list list;
    va_start(list, number);
    long a[6];
    for (long& argument : a) {
        argument = va_arg(list, long);
    }
    va_end(list);
    return realSyscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
