// Preloaded into the filter, makes close_range fail with ENOSYS, as on a kernel before 5.9 or in
// a sandbox whose seccomp profile does not know the call. The filter then has to close the
// engine's other descriptors another way. The engine inherits the seccomp filter too, which
// takes nothing from it.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace {

bool takeCloseRangeAway() {
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_close_range, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
    // A shim that could not do its work would let the case pass on a filter that never met the
    // failure it is there for.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
        std::abort();
    }
    // The engine needs no shim of its own.
    return unsetenv("LD_PRELOAD") == 0;
}

[[maybe_unused]] const bool tookCloseRangeAway = takeCloseRangeAway();

}  // namespace
