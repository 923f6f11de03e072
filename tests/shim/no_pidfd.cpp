// Preloaded into the filter, makes pidfd_open fail as on a kernel or in a sandbox without it.
#include <dlfcn.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstdarg>

// Looked up at load time: the filter's vfork child must not call into the dynamic linker.
static const auto realSyscall = reinterpret_cast<long (*)(long, ...)>(dlsym(RTLD_NEXT, "syscall"));

extern "C" long syscall(long number, ...) {
    va_list list;
    va_start(list, number);
    long a[6];
    for (long& argument : a) {
        argument = va_arg(list, long);
    }
    va_end(list);
    errno = number == SYS_pidfd_open ? ENOSYS : errno;
    return number == SYS_pidfd_open ? -1 : realSyscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
