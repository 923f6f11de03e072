// A program under test, started behind three pipes, and the paths of the programs the
// end-to-end tests run.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace e2e {

// The filter's own option lines, in the order in which they come before every "uciok".
extern const std::vector<std::string> kFilterOptions;

using Duration = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// How long a test waits for something that should come at once. Generous: sanitizer builds
// on a busy machine are slow, and a deadline only costs time when a test fails anyway.
inline constexpr Duration kDeadline{10000};

using LinePredicate = std::function<bool(std::string_view)>;

LinePredicate startsWith(std::string text);

struct SpawnOptions {
    std::string workingDirectory;          // empty: the test's own
    std::vector<std::string> environment;  // "NAME=value" entries that replace or add
    bool extraDescriptor = false;          // leave fd 9 open, inheritable, in the child
};

class ChildProcess {
public:
    ChildProcess(std::vector<std::string> argv, SpawnOptions options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Writes the line and a line feed. False once the child's input is gone.
    bool send(std::string_view line);
    // Writes the bytes as they are, with no line feed added.
    bool sendRaw(std::string_view bytes);
    void closeStdin();
    // Stops reading the child's standard output and closes it, as a GUI that goes away does;
    // the child's next write to it fails.
    void closeStdout();
    // False if the child could not be signalled (it has been reaped already).
    bool sendSignal(int signal);

    // Reads on from the last line matched until a line matches, and returns it. A line that
    // has not come by the deadline is recorded as a test failure, with all output so far.
    std::optional<std::string> expectLine(const LinePredicate& matches,
                                          Duration timeout = kDeadline);
    std::optional<std::string> expectLine(std::string_view exact, Duration timeout = kDeadline);

    // Every line so far and the number of them, so a test can look at what came in between.
    std::vector<std::string> lines() const;

    // True once the standard error holds `text`, false if the deadline passes first.
    bool waitStderr(std::string_view text, Duration timeout = kDeadline);

    // The wait status once the child has ended; its output streams are drained too, as far as
    // they end within the deadline. Empty if it is still running at the deadline.
    std::optional<int> waitExit(Duration timeout = kDeadline);

    std::string stdoutBytes() const;
    std::string stderrText() const;
    // All output so far, for failure messages.
    std::string transcript() const;

private:
    void readOutput();
    void stopReader();

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    int stderr_ = -1;
    std::optional<int> status_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string stdoutBytes_;
    std::string stderrBytes_;
    std::vector<std::string> lines_;
    std::size_t lineStart_ = 0;  // in stdoutBytes_, of the line still being received
    std::size_t cursor_ = 0;     // in lines_, of the first line not yet looked at
    bool stdoutEnded_ = false;
    bool stderrEnded_ = false;
    bool stopReading_ = false;
    bool closeStdoutRequested_ = false;
    std::thread reader_;
};

// The filter's command words: KESTROWAN_FILTER split at spaces, or the built binary.
std::vector<std::string> filterCommand();
// The scripted engine: KESTROWAN_TEST_ENGINE, or the built one.
std::string testEnginePath();
// Set when the filter under test runs under Wine: process checks that rely on POSIX and /proc
// cannot see into it.
bool underWine();

// True once the process has ended (a zombie counts as ended: nobody may be left to reap it).
bool processGone(long pid);
bool waitProcessGone(long pid, Duration timeout = kDeadline);
// The processes that `pid` has started and not yet reaped.
std::vector<long> childPids(long pid);

}  // namespace e2e
