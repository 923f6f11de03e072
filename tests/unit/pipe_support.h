// Pipes, child processes and deadline-bound line reading for tests that drive the filter's
// code over real pipes. Every wait here has a deadline; none of it sleeps to synchronise.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handle.h"

namespace kestrowan::test {

using namespace std::chrono_literals;

// Far longer than anything here needs even under a sanitizer, so that reaching it means a
// line or a process end that is not coming at all.
inline constexpr std::chrono::milliseconds kPatience = 10s;

class TestPipe {
public:
    TestPipe();
    ~TestPipe();
    TestPipe(const TestPipe&) = delete;
    TestPipe& operator=(const TestPipe&) = delete;

    Handle readEnd() const { return read_; }
    Handle writeEnd() const { return write_; }
    void closeRead();
    void closeWrite();

private:
    Handle read_ = kNoHandle;
    Handle write_ = kNoHandle;
};

// Records a test failure if not every byte went in.
void writeAll(Handle handle, std::string_view bytes);

// Waits until a reader has taken every byte out of the pipe, so that the next write cannot be
// picked up by the same read as the previous one. False at the deadline.
bool waitUntilDrained(Handle readEnd, std::chrono::milliseconds patience = kPatience);

// Reads lines ("\n"-terminated, everything else kept as it is) from a pipe end.
class LineSource {
public:
    explicit LineSource(Handle handle) : handle_(handle) {}

    // The next line, or nothing if none is complete by the deadline or the stream ended.
    std::optional<std::string> next(std::chrono::milliseconds patience = kPatience);

    // Up to and including `last`; stops early at the deadline.
    std::vector<std::string> until(std::string_view last);

    // Every complete line that can be had right now, without waiting.
    std::vector<std::string> available();

private:
    enum class Fill { data, timeout, ended };
    Fill fill(int timeoutMs);

    Handle handle_;
    std::string pending_;
};

// A child process that is killed and reaped when the test is done with it.
class ChildProcess {
public:
    // Runs argv[0] with `input` as its standard input (/dev/null if kNoHandle); its standard
    // output goes to /dev/null.
    ChildProcess(std::vector<const char*> argv, Handle input);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    Handle handle() const { return pid_; }
    // Reaps the process (blocking) and returns its wait status.
    int reap();

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

}  // namespace kestrowan::test
