#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/process.h"
#include "platform/signals_posix.h"
#include "platform/system.h"

namespace kestrowan {

namespace {

// The requests to end that the filter answers by ending the engine first.
constexpr int kEndRequests[] = {SIGTERM, SIGHUP, SIGINT};

// The signals that the filter found ignored at its start (bit n - 1 for signal n). Asked of the
// C library one by one rather than read from the kernel's status of the process: under an
// emulator such as qemu-user the kernel sees the emulator's dispositions, not the program's.
std::uint64_t ignoredAtStart = 0;

constexpr std::uint64_t signalBit(int signal) {
    return std::uint64_t{1} << (signal - 1);
}

std::atomic<Handle> processToEnd{kNoHandle};

void endProcessAndFilter(int signal) {
    terminateProcess(processToEnd.load());
    // The handler was reset on entry: the signal now ends the filter as it would have.
    raise(signal);
}

void holdEndRequests(int how) {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : kEndRequests) {
        sigaddset(&signals, signal);
    }
    pthread_sigmask(how, &signals, nullptr);
}

}  // namespace

std::int64_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

long lastErrorCode() {
    return errno;
}

std::uint64_t signalsIgnoredAtStart() {
    return ignoredAtStart;
}

void prepareProcess() {
    for (int signal = 1; signal <= 64 && signal < NSIG; ++signal) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
            ignoredAtStart |= signalBit(signal);
        }
    }
    // A request to end that came between the engine's start and the handler would end the
    // filter by default and leave behind whatever the engine had started (the parent-death
    // signal ends the engine alone). It waits until the handler knows the engine.
    holdEndRequests(SIG_BLOCK);
    // A write to an engine that has ended must fail with EPIPE and end through the error exit,
    // not kill the filter without a word.
    std::signal(SIGPIPE, SIG_IGN);
    // A GUI that ignores SIGCHLD passes that on to us, and the kernel would then reap the
    // engine as it ends: waiting for it would fail, and its process id could pass to another
    // process before the filter kills it.
    std::signal(SIGCHLD, SIG_DFL);
    // A standard stream that the caller left closed would otherwise be taken by the first pipe
    // made, and the engine's pipe would pose as the GUI.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                dup2(opened, fd);
                close(opened);
            }
        }
    }
}

void terminateOnEndRequest(Handle process) {
    processToEnd.store(process);
    struct sigaction action {};
    action.sa_handler = endProcessAndFilter;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : kEndRequests) {
        // One that the filter's parent left ignored (nohup, a background job) stays ignored.
        if ((ignoredAtStart & signalBit(signal)) == 0) {
            sigaction(signal, &action, nullptr);
        }
    }
    holdEndRequests(SIG_UNBLOCK);
}

void writeErrorLine(const char* line, std::uint32_t timeoutMs) {
    // UTF-8 is the text encoding here, and a line feed the line end.
    writeHandleWithin(STDERR_FILENO, line, static_cast<std::uint32_t>(std::strlen(line)),
                      timeoutMs);
}

void exitProcess(int status) {
    std::exit(status);
}

}  // namespace kestrowan
