#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "platform/signals_posix.h"
#include "platform/system.h"

namespace kestrowan {

namespace {

// The engine's arguments are split as a Windows program's runtime would split an unquoted
// command line, so an argument that holds a space reaches the engine as two words on every
// platform. GUIs that pass all engine parameters in one field rely on that.
void splitWords(const char* arguments, std::vector<std::string>& words) {
    const char* p = arguments;
    while (*p != '\0') {
        while (*p == ' ' || *p == '\t') {
            ++p;
        }
        const char* begin = p;
        while (*p != '\0' && *p != ' ' && *p != '\t') {
            ++p;
        }
        if (p > begin) {
            words.emplace_back(begin, p);
        }
    }
}

// The child changes directory before it executes, so a relative program path is anchored to
// the filter's own directory first, as process creation on Windows does.
bool resolveProgram(const char* program, std::string& resolved) {
    resolved = program;
    if (program[0] == '/') {
        return true;
    }
    std::vector<char> cwd(PATH_MAX);
    while (getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE) {
            return false;
        }
        cwd.resize(cwd.size() * 2);
    }
    resolved = std::string(cwd.data()) + "/" + program;
    return true;
}

// A bare name is looked up in PATH as a shell would, here rather than in the child, so that the
// child has nothing left to do but async-signal-safe calls.
bool searchPath(const char* name, std::string& found) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (;;) {
        const std::size_t colon = rest.find(':');
        std::string directory(rest.substr(0, colon));
        std::string candidate = (directory.empty() ? std::string(".") : directory) + "/" + name;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return resolveProgram(candidate.c_str(), found);
        }
        if (colon == std::string_view::npos) {
            errno = ENOENT;
            return false;
        }
        rest.remove_prefix(colon + 1);
    }
}

// Puts `from` on `to` for the program that follows, inheritable there.
bool installStdFd(int from, int to) {
    if (from == to) {
        return fcntl(to, F_SETFD, 0) == 0;
    }
    return dup2(from, to) == to;
}

// What the child does with each signal (bit n - 1 for signal n) before it executes the engine.
struct ChildSignals {
    std::uint64_t reset;   // back to the default
    std::uint64_t ignore;  // ignored, as they were when the filter started
};

// The signals to set in the child: those that are ignored or handled here, read from the
// kernel's status of the process (all of them where it does not say), and those to be ignored
// again. The engine's start waits for the child to set them, and setting every signal, each a
// system call, costs some 75 microseconds on a virtual machine. Kept out of line: inlined, its
// locals would live across the vfork.
[[gnu::noinline]] ChildSignals childSignals() {
    const std::uint64_t ignore = signalsIgnoredAtStart();
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {~std::uint64_t{0}, ignore};
    }
    char status[4096];
    const ssize_t size = read(fd, status, sizeof status - 1);
    close(fd);
    status[size > 0 ? size : 0] = '\0';
    std::uint64_t masks[2] = {};  // ignored, handled
    const char* fields[2] = {"\nSigIgn:", "\nSigCgt:"};
    for (int i = 0; i < 2; ++i) {
        const char* line = std::strstr(status, fields[i]);
        if (line == nullptr) {
            return {~std::uint64_t{0}, ignore};
        }
        masks[i] = std::strtoull(line + std::strlen(fields[i]), nullptr, 16);
    }
    // A signal that is ignored and stays so needs no call.
    return {(masks[0] | masks[1] | ignore) & ~(ignore & masks[0]), ignore};
}

// Closes every descriptor from 3 up but `keep`, one at a time, where close_range is missing (a
// kernel before 5.9, a sandbox that does not know the call). The open ones are read from
// /proc/self/fd, which is read again from its start until a pass finds nothing to close: closing
// while reading may move entries. Without /proc, every number up to `limit` is tried.
void closeOneByOne(int keep, int limit) {
    const int directory = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        for (int fd = 3; fd < limit; ++fd) {
            if (fd != keep) {
                close(fd);
            }
        }
        return;
    }
    for (bool closed = true; closed;) {
        closed = false;
        lseek(directory, 0, SEEK_SET);
        alignas(dirent64) char entries[4096];
        long size = 0;
        while ((size = syscall(SYS_getdents64, directory, entries, sizeof entries)) > 0) {
            for (long offset = 0; offset < size;) {
                const auto* entry = reinterpret_cast<const dirent64*>(entries + offset);
                offset += entry->d_reclen;
                int fd = 0;
                const char* digit = entry->d_name;
                for (; *digit >= '0' && *digit <= '9'; ++digit) {
                    fd = fd * 10 + (*digit - '0');
                }
                if (*digit == '\0' && digit != entry->d_name && fd > 2 && fd != keep &&
                    fd != directory) {
                    closed = close(fd) == 0 || closed;
                }
            }
        }
    }
    close(directory);
}

// The engine holds fds 0, 1 and 2 and nothing else, whatever the GUI left open in us.
void closeOtherDescriptors(int keep, int limit) {
    const bool below = keep <= 3 || close_range(3, static_cast<unsigned>(keep) - 1, 0) == 0;
    if (!below || close_range(static_cast<unsigned>(keep) + 1, ~0U, 0) != 0) {
        closeOneByOne(keep, limit);
    }
}

// Runs in the child between vfork and exec, on the parent's memory: only async-signal-safe
// calls, and nothing that writes to memory the parent uses. A failure is sent
// to the parent through `report`, which closes on a successful exec.
[[noreturn]] void execChild(const char* path, char* const* argv, const char* workingDirectory,
                            int input, int output, int report, pid_t parent, ChildSignals signals,
                            int descriptorLimit) {
    // The filter ignores SIGPIPE and may handle other signals; the engine starts with the
    // dispositions that the filter was started with and nothing blocked.
    for (int signal = 1; signal < NSIG; ++signal) {
        const bool ignore = signal <= 64 && ((signals.ignore >> (signal - 1)) & 1) != 0;
        if (signal <= 64 && ((signals.reset >> (signal - 1)) & 1) == 0) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = ignore ? SIG_IGN : SIG_DFL;
        if (sigaction(signal, &action, nullptr) != 0 && errno == EINVAL && !ignore) {
            // The C library keeps a few signals for itself and refuses them, though it may have
            // inherited them ignored. The kernel takes them: an all-zero action is SIG_DFL with
            // no flags and an empty mask whatever the architecture's layout of it.
            const unsigned long zeroAction[8] = {};
            syscall(SYS_rt_sigaction, signal, zeroAction, nullptr, NSIG / 8);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Should the filter be killed outright, the engine goes with it; what the engine started
    // sees its input end, which is all a killed process can arrange. The check after it closes
    // the gap in which the filter died before the request was made.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
        _exit(127);
    }
    // The engine leads a group of its own, so that a kill reaches whatever it starts: a launch
    // script that does not exec leaves the real engine one level down.
    bool ok = setpgid(0, 0) == 0 && installStdFd(input, 0) && installStdFd(output, 1);
    if (ok) {
        closeOtherDescriptors(report, descriptorLimit);
    }
    ok = ok && (workingDirectory[0] == '\0' || chdir(workingDirectory) == 0);
    if (ok) {
        execv(path, argv);
    }
    const int error = errno;
    ssize_t ignored = write(report, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// The clock reading at which a wait of `timeoutMs` ends; 0, and no reading, for a wait
// without limit. The watcher's wait has none and starts beside the engine's start, where a
// clock reading would be the process's first and fault in the clock's pages.
std::int64_t deadlineAfter(std::uint32_t timeoutMs) {
    return timeoutMs == kNoTimeLimit ? 0 : monotonicMs() + timeoutMs;
}

// Without pidfds (older kernels, some sandboxes) the wait is on the child itself, which
// WNOWAIT leaves unreaped. waitid sleeps in the kernel but knows no time limit, so a bounded
// wait looks again every few milliseconds.
bool waitChild(pid_t pid, std::uint32_t timeoutMs) {
    constexpr std::int64_t kLookAgainMs = 5;
    const bool unlimited = timeoutMs == kNoTimeLimit;
    const std::int64_t deadline = deadlineAfter(timeoutMs);
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info,
                   WEXITED | WNOWAIT | (unlimited ? 0 : WNOHANG)) != 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (info.si_pid == pid) {
            return true;
        }
        const std::int64_t left = deadline - monotonicMs();
        if (left <= 0) {
            return false;
        }
        // At most 5 ms in nanoseconds: fits the 32-bit long of tv_nsec on armhf.
        const timespec pause{0, static_cast<long>(std::min(left, kLookAgainMs) * 1000000)};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

std::string programDirectory(const char* programPath) {
    const char* lastSlash = std::strrchr(programPath, '/');
    return lastSlash == nullptr ? std::string() : std::string(programPath, lastSlash + 1);
}

std::size_t commandLineLength(const std::string& commandLine) {
    return commandLine.size();
}

Handle startProcess(const char* program, const char* commandLine, const char* workingDirectory) {
    if (program[0] == '\0') {
        errno = ENOENT;
        return kNoHandle;
    }
    // The path is the engine's first argument as it was given, spaces and all; only what
    // follows it on the command line is split.
    const std::string_view line = commandLine;
    const std::size_t programEnd = std::min(commandLineProgram(program).size(), line.size());
    std::vector<std::string> words{program};
    splitWords(commandLine + programEnd, words);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    // Anything with a slash is a path; a bare name is looked up in PATH.
    std::string path;
    const bool found = std::strchr(program, '/') != nullptr ? resolveProgram(program, path)
                                                            : searchPath(program, path);
    if (!found) {
        return kNoHandle;
    }

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return kNoHandle;
    }
    const int input = static_cast<int>(stdHandle(StdStream::input));
    const int output = static_cast<int>(stdHandle(StdStream::output));
    const pid_t parent = getpid();
    const ChildSignals signals = childSignals();
    const long openMax = sysconf(_SC_OPEN_MAX);
    const int descriptorLimit =
        openMax > 0 && openMax < INT_MAX ? static_cast<int>(openMax) : 65536;
    // vfork shares our memory until the exec, which spares copying the page tables on every
    // engine start. No handler of ours may run in the child meanwhile, so every signal stays
    // blocked until the child has set the defaults back.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    // The child shares our errno too, and sigaction refuses it SIGKILL and SIGSTOP: the code
    // it leaves there would pose as ours in a later error line.
    const int callerError = errno;
    const pid_t pid = vfork();
    if (pid == 0) {
        execChild(path.c_str(), argv.data(), workingDirectory, input, output, report[1], parent,
                  signals, descriptorLimit);
    }
    const int forkError = errno;
    errno = callerError;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        errno = forkError;
        return kNoHandle;
    }
    // The report pipe closes on a successful exec; an error number means the start failed.
    int childError = 0;
    ssize_t n = 0;
    do {
        n = read(report[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n > 0) {
        waitpid(pid, nullptr, 0);
        errno = childError;
        return kNoHandle;
    }
    return pid;
}

void terminateProcess(Handle process) {
    // As a group, 0 is our own and 1 would be init's, and -1 is everyone. The engine is never
    // reaped while the filter runs (nothing here waits it away, and SIGCHLD is at its default),
    // so its id, and with it the group's, cannot pass to another process before this kill.
    if (process <= 1) {
        return;
    }
    ::kill(-static_cast<pid_t>(process), SIGKILL);
}

bool waitProcess(Handle process, std::uint32_t timeoutMs) {
    if (process <= 0) {
        return false;
    }
    const auto pid = static_cast<pid_t>(process);
    // A pidfd turns "the process has ended" into a readable descriptor, so the wait sleeps in
    // the kernel and leaves the process unreaped.
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        return waitChild(pid, timeoutMs);
    }
    const bool unlimited = timeoutMs == kNoTimeLimit;
    const std::int64_t deadline = deadlineAfter(timeoutMs);
    bool ended = false;
    for (;;) {
        int wait = -1;
        if (!unlimited) {
            std::int64_t left = deadline - monotonicMs();
            if (left < 0) {
                left = 0;
            }
            wait = left > INT_MAX ? INT_MAX : static_cast<int>(left);
        }
        pollfd entry{pidfd, POLLIN, 0};
        int ready = ::poll(&entry, 1, wait);
        if (ready > 0) {
            ended = true;
            break;
        }
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready == 0 && !unlimited && monotonicMs() >= deadline) {
            break;
        }
    }
    ::close(pidfd);
    return ended;
}

}  // namespace kestrowan
