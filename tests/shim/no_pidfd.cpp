// Preloaded into the filter, makes pidfd_open fail as on a kernel or in a sandbox without it.
#include <dlfcn.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

// Once loaded, the shim leaves the environment that the engine inherits. The engine may be
// built for another machine than the filter and this file (a filter built for ARM runs under
// qemu-user in front of a native engine); its loader would fail to preload the file and say so
// on standard error.
[[maybe_unused]] static const int leftTheEnvironment = unsetenv("LD_PRELOAD");

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
