#include "pipe_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/pipe.h"

extern char** environ;

namespace kestrowan::test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

TestPipe::TestPipe() {
    if (!createPipe(read_, write_)) {
        std::perror("createPipe");
        std::abort();
    }
}

TestPipe::~TestPipe() {
    closeRead();
    closeWrite();
}

void TestPipe::closeRead() {
    if (read_ != kNoHandle) {
        closeHandle(read_);
        read_ = kNoHandle;
    }
}

void TestPipe::closeWrite() {
    if (write_ != kNoHandle) {
        closeHandle(write_);
        write_ = kNoHandle;
    }
}

void writeAll(Handle handle, std::string_view bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    EXPECT_EQ(writeHandle(handle, bytes.data(), size), size) << "errno " << errno;
}

bool waitUntilDrained(Handle readEnd, std::chrono::milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    for (;;) {
        int held = 0;
        if (::ioctl(static_cast<int>(readEnd), FIONREAD, &held) != 0) {
            return false;
        }
        if (held == 0) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::yield();
    }
}

LineSource::Fill LineSource::fill(int timeoutMs) {
    pollfd entry{static_cast<int>(handle_), POLLIN, 0};
    const int ready = ::poll(&entry, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) {
        return Fill::data;  // nothing new, but worth another look
    }
    if (ready == 0) {
        return Fill::timeout;
    }
    char chunk[4096];
    const ssize_t count = ready < 0 ? -1 : ::read(static_cast<int>(handle_), chunk, sizeof chunk);
    if (count <= 0) {
        return Fill::ended;
    }
    pending_.append(chunk, static_cast<std::size_t>(count));
    return Fill::data;
}

std::optional<std::string> LineSource::next(std::chrono::milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const Fill result = fill(remainingMs(deadline));
        if (result == Fill::ended || (result == Fill::timeout && Clock::now() >= deadline)) {
            return std::nullopt;
        }
    }
}

std::vector<std::string> LineSource::until(std::string_view last) {
    std::vector<std::string> lines;
    while (std::optional<std::string> line = next()) {
        lines.push_back(*line);
        if (*line == last) {
            break;
        }
    }
    return lines;
}

std::vector<std::string> LineSource::available() {
    while (fill(0) == Fill::data) {
    }
    std::vector<std::string> lines;
    while (std::optional<std::string> line = next(0ms)) {
        lines.push_back(*line);
    }
    return lines;
}

ChildProcess::ChildProcess(std::vector<const char*> argv, Handle input) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (input == kNoHandle) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    } else {
        posix_spawn_file_actions_adddup2(&actions, static_cast<int>(input), 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // The test process ignores SIGPIPE as the filter does; the child gets the defaults back.
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid_, argv[0], &actions, &attributes,
                                  const_cast<char* const*>(argv.data()), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        std::fprintf(stderr, "posix_spawn %s: error %d\n", argv[0], error);
        std::abort();
    }
}

ChildProcess::~ChildProcess() {
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        reap();
    }
}

int ChildProcess::reap() {
    if (!reaped_) {
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }
    return status_;
}

}  // namespace kestrowan::test
