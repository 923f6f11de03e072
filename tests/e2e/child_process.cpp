#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace e2e {

const std::vector<std::string> kFilterOptions = {
    "option name TimeCurrmove@Kestrowan type spin default 1500 min 0 max 5000",
    "option name TimeInfo@Kestrowan type spin default 300 min 0 max 5000",
    "option name TimeQuit@Kestrowan type spin default 1000 min 200 max 1800",
    "option name RemoveNonUci@Kestrowan type check default true",
    "option name RemoveStop@Kestrowan type check default true",
};

namespace {

// A child that has gone makes our writes fail with EPIPE; the signal would end the test run.
const bool sigpipeIgnored = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
}

std::string nameOf(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

std::vector<std::string> environmentWith(const std::vector<std::string>& overrides) {
    std::vector<std::string> result;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& o : overrides) {
            replaced = replaced || nameOf(o) == nameOf(entry);
        }
        if (!replaced) {
            result.push_back(entry);
        }
    }
    result.insert(result.end(), overrides.begin(), overrides.end());
    return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// A line of megabytes would drown a failure message.
std::string shortened(const std::string& line) {
    constexpr std::size_t kShown = 300;
    if (line.size() <= kShown) {
        return line;
    }
    return line.substr(0, kShown) + "... (" + std::to_string(line.size()) + " bytes)";
}

}  // namespace

LinePredicate startsWith(std::string text) {
    return [text = std::move(text)](std::string_view line) { return line.starts_with(text); };
}

ChildProcess::ChildProcess(std::vector<std::string> argv, SpawnOptions options) {
    int in[2];
    int out[2];
    int err[2];
    makePipe(in);
    makePipe(out);
    makePipe(err);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (options.extraDescriptor) {
        posix_spawn_file_actions_addopen(&actions, 9, "/dev/null", O_RDONLY, 0);
    }
    if (!options.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    }
    std::vector<std::string> environment = environmentWith(options.environment);
    std::vector<char*> envp = pointersTo(environment);
    std::vector<char*> args = pointersTo(argv);
    const int error = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
    if (error != 0) {
        pid_ = -1;
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(error);
        stdoutEnded_ = stderrEnded_ = true;
        return;
    }
    reader_ = std::thread([this] { readOutput(); });
}

ChildProcess::~ChildProcess() {
    closeStdin();
    if (pid_ > 0 && !status_) {
        // A test that failed half-way leaves its child behind; don't let it outlive the test.
        if (!waitExit(Duration(2000))) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    stopReader();
    if (stdout_ >= 0) {
        ::close(stdout_);
    }
    ::close(stderr_);
}

bool ChildProcess::send(std::string_view line) {
    std::string data(line);
    data += '\n';
    return sendRaw(data);
}

bool ChildProcess::sendRaw(std::string_view bytes) {
    if (stdin_ < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(stdin_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void ChildProcess::closeStdin() {
    if (stdin_ >= 0) {
        ::close(stdin_);
        stdin_ = -1;
    }
}

void ChildProcess::closeStdout() {
    std::unique_lock lock(mutex_);
    if (pid_ <= 0 || stdoutEnded_) {
        return;
    }
    // The reader thread closes it between two polls, so the descriptor never goes away under
    // a poll in progress.
    closeStdoutRequested_ = true;
    changed_.wait(lock, [this] { return stdoutEnded_; });
}

bool ChildProcess::sendSignal(int signal) {
    return pid_ > 0 && !status_ && ::kill(pid_, signal) == 0;
}

void ChildProcess::readOutput() {
    pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
    // Large reads: a test may send lines of many megabytes through.
    std::vector<char> buffer(1 << 16);
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (closeStdoutRequested_ && stdout_ >= 0) {
                ::close(stdout_);
                stdout_ = -1;
                stdoutEnded_ = true;
                changed_.notify_all();
            }
            if (stopReading_ || (stdoutEnded_ && stderrEnded_)) {
                return;
            }
            fds[0].fd = stdoutEnded_ ? -1 : stdout_;
            fds[1].fd = stderrEnded_ ? -1 : stderr_;
        }
        // A short timeout: the stop request must be seen even when a stray process keeps one
        // of the pipes open.
        if (::poll(fds, 2, 50) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            std::lock_guard lock(mutex_);
            if (n <= 0) {
                (i == 0 ? stdoutEnded_ : stderrEnded_) = true;
            } else if (i == 1) {
                stderrBytes_.append(buffer.data(), static_cast<std::size_t>(n));
            } else {
                // Only the new bytes are searched: a long line is scanned once, not per read.
                std::size_t from = stdoutBytes_.size();
                stdoutBytes_.append(buffer.data(), static_cast<std::size_t>(n));
                std::size_t end;
                while ((end = stdoutBytes_.find('\n', from)) != std::string::npos) {
                    lines_.push_back(stdoutBytes_.substr(lineStart_, end - lineStart_));
                    lineStart_ = from = end + 1;
                }
            }
            changed_.notify_all();
        }
    }
}

void ChildProcess::stopReader() {
    {
        std::lock_guard lock(mutex_);
        stopReading_ = true;
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

std::optional<std::string> ChildProcess::expectLine(const LinePredicate& matches,
                                                    Duration timeout) {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        for (; cursor_ < lines_.size(); ++cursor_) {
            if (matches(lines_[cursor_])) {
                return lines_[cursor_++];
            }
        }
        if (stdoutEnded_ || Clock::now() >= deadline) {
            break;
        }
        changed_.wait_until(lock, deadline);
    }
    lock.unlock();
    ADD_FAILURE() << "expected line did not come\n" << transcript();
    return std::nullopt;
}

std::optional<std::string> ChildProcess::expectLine(std::string_view exact, Duration timeout) {
    std::optional<std::string> line =
        expectLine([exact](std::string_view l) { return l == exact; }, timeout);
    if (!line) {
        ADD_FAILURE() << "the line was: " << exact;
    }
    return line;
}

std::vector<std::string> ChildProcess::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool ChildProcess::waitStderr(std::string_view text, Duration timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return stderrBytes_.find(text) != std::string::npos || stderrEnded_;
    }) && stderrBytes_.find(text) != std::string::npos;
}

std::optional<int> ChildProcess::waitExit(Duration timeout) {
    const auto deadline = Clock::now() + timeout;
    while (pid_ > 0 && !status_) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = status;
            break;
        }
        if (done < 0 || Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(Duration(5));
    }
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [this] { return stdoutEnded_ && stderrEnded_; });
    return status_;
}

std::string ChildProcess::stdoutBytes() const {
    std::lock_guard lock(mutex_);
    return stdoutBytes_;
}

std::string ChildProcess::stderrText() const {
    std::lock_guard lock(mutex_);
    return stderrBytes_;
}

std::string ChildProcess::transcript() const {
    std::lock_guard lock(mutex_);
    std::ostringstream text;
    text << "--- stdout (" << lines_.size() << " lines, " << cursor_ << " read)\n";
    for (const std::string& line : lines_) {
        text << "  |" << shortened(line) << "|\n";
    }
    if (lineStart_ < stdoutBytes_.size()) {
        text << "  unterminated: |" << shortened(stdoutBytes_.substr(lineStart_)) << "|\n";
    }
    text << "--- stderr\n" << stderrBytes_ << "---";
    return text.str();
}

std::vector<std::string> filterCommand() {
    const char* configured = std::getenv("KESTROWAN_FILTER");
    if (configured == nullptr || *configured == '\0') {
        return {KESTROWAN_FILTER_PATH};
    }
    std::vector<std::string> words;
    std::istringstream in(configured);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

std::string testEnginePath() {
    const char* configured = std::getenv("KESTROWAN_TEST_ENGINE");
    return configured != nullptr && *configured != '\0' ? configured : KESTROWAN_TEST_ENGINE_PATH;
}

bool underWine() {
    const char* wine = std::getenv("KESTROWAN_WINE");
    return wine != nullptr && std::string_view(wine) == "1";
}

bool processGone(long pid) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0) {
        return errno == ESRCH;
    }
    // The third field of stat is the state: Z and X are a process that has ended.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 2 >= text.size()) {
        return !stat.is_open();
    }
    const char state = text[nameEnd + 2];
    return state == 'Z' || state == 'X';
}

bool waitProcessGone(long pid, Duration timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!processGone(pid)) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(Duration(10));
    }
    return true;
}

std::vector<long> childPids(long pid) {
    const std::string task = std::to_string(pid);
    std::ifstream children("/proc/" + task + "/task/" + task + "/children");
    std::vector<long> pids;
    for (long child; children >> child;) {
        pids.push_back(child);
    }
    return pids;
}

}  // namespace e2e
