#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/system.h"

extern char** environ;

namespace kestrowan {

namespace {

// The command line is split as a Windows program's runtime would split an unquoted one, so an
// argument that holds a space reaches the engine as two words on every platform.
std::vector<std::string> splitWords(const char* commandLine) {
    std::vector<std::string> words;
    const char* p = commandLine;
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
    return words;
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

struct SpawnSettings {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

int prepareSpawn(SpawnSettings& settings, const char* workingDirectory) {
    int error = posix_spawn_file_actions_init(&settings.actions);
    if (error != 0) {
        return error;
    }
    error = posix_spawnattr_init(&settings.attributes);
    if (error != 0) {
        posix_spawn_file_actions_destroy(&settings.actions);
        return error;
    }
    const int input = static_cast<int>(stdHandle(StdStream::input));
    const int output = static_cast<int>(stdHandle(StdStream::output));
    // The engine holds fds 0, 1 and 2 and nothing else, whatever the GUI left open in us.
    if (error == 0)
        error = posix_spawn_file_actions_adddup2(&settings.actions, input, 0);
    if (error == 0)
        error = posix_spawn_file_actions_adddup2(&settings.actions, output, 1);
    if (error == 0)
        error = posix_spawn_file_actions_addclosefrom_np(&settings.actions, 3);
    if (error == 0 && workingDirectory[0] != '\0') {
        error = posix_spawn_file_actions_addchdir_np(&settings.actions, workingDirectory);
    }
    // The filter ignores SIGPIPE; the engine must start with every default back in place.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    if (error == 0)
        error = posix_spawnattr_setsigdefault(&settings.attributes, &all);
    if (error == 0)
        error = posix_spawnattr_setsigmask(&settings.attributes, &none);
    if (error == 0) {
        error = posix_spawnattr_setflags(&settings.attributes,
                                         POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    if (error != 0) {
        posix_spawnattr_destroy(&settings.attributes);
        posix_spawn_file_actions_destroy(&settings.actions);
    }
    return error;
}

}  // namespace

std::string programDirectory(const char* programPath) {
    const char* lastSlash = std::strrchr(programPath, '/');
    return lastSlash == nullptr ? std::string() : std::string(programPath, lastSlash + 1);
}

Handle startProcess(const char* program, const char* commandLine, const char* workingDirectory) {
    std::vector<std::string> words = splitWords(commandLine);
    if (words.empty() || program[0] == '\0') {
        errno = ENOENT;
        return kNoHandle;
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    // A bare name is looked up in PATH, as a shell would; anything with a slash is a path.
    const bool searchPath = std::strchr(program, '/') == nullptr;
    std::string path;
    if (!searchPath && !resolveProgram(program, path)) {
        return kNoHandle;
    }

    SpawnSettings settings;
    int error = prepareSpawn(settings, workingDirectory);
    if (error != 0) {
        errno = error;
        return kNoHandle;
    }
    pid_t pid = 0;
    if (searchPath) {
        error = posix_spawnp(&pid, program, &settings.actions, &settings.attributes, argv.data(),
                             environ);
    } else {
        error = posix_spawn(&pid, path.c_str(), &settings.actions, &settings.attributes,
                            argv.data(), environ);
    }
    posix_spawnattr_destroy(&settings.attributes);
    posix_spawn_file_actions_destroy(&settings.actions);
    if (error != 0) {
        errno = error;
        return kNoHandle;
    }
    return pid;
}

void terminateProcess(Handle process) {
    // kill() reads 0 and -1 as "the group" and "everyone": never pass those on.
    if (process <= 0) {
        return;
    }
    ::kill(static_cast<pid_t>(process), SIGKILL);
}

bool waitProcess(Handle process, std::uint32_t timeoutMs) {
    if (process <= 0) {
        return false;
    }
    // A pidfd turns "the process has ended" into a readable descriptor, so the wait sleeps in
    // the kernel and leaves the process unreaped.
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(process), 0));
    if (pidfd < 0) {
        return false;
    }
    const bool unlimited = timeoutMs == UINT32_MAX;
    const std::int64_t deadline = monotonicMs() + timeoutMs;
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
