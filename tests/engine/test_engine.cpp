// A scripted UCI engine for the end-to-end tests. Its behaviour comes from flags, so each test
// can ask for the one misbehaviour it needs; it logs what it receives, so a test can tell what
// the filter passed on and what it kept back.
//
//   --log FILE          append every received line, raw, to FILE; start-up facts and the way
//                       it ends are logged as lines starting with '#'
//   --chatter           free text and an empty line at start and after "uciok"
//   --crlf              end every line with "\r\n"
//   --ignore-quit       keep running after "quit" and after the end of input
//   --die-on-go         print "info string last words" and exit right after receiving "go"
//   --info-on-go        on "go", print info lines and answer only on "stop" or after the search
//                       time
//   --search-ms N       how long a search lasts before "bestmove" (default 0, or 20000 with
//                       --info-on-go)
//   --print-args        print "info string arg N <arg>" for each argument and
//                       "info string cwd <dir>"
//   --check-fds         print "info string fds <n> ..." with the open descriptors
//
// Arguments without a leading "--" are ignored, so a test can pad the command line. Besides
// the UCI commands it takes these from the GUI:
//   echo <text>          prints <text> as it is ("echo" alone, an empty line)
//   repeat <n> <text>    prints <text> n times, all in one write
//   unterminated <text>  writes <text> without a line end and exits

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <process.h>
static long processId() {
    return _getpid();
}
#else
#include <unistd.h>
static long processId() {
    return getpid();
}
#endif

namespace {

using Clock = std::chrono::steady_clock;

// A test engine that a broken filter failed to end must not outlive the test run by much.
constexpr auto kMaxLifetime = std::chrono::seconds(30);

struct Settings {
    std::string logFile;
    bool chatter = false;
    bool crlf = false;
    bool ignoreQuit = false;
    bool dieOnGo = false;
    bool infoOnGo = false;
    bool printArgs = false;
    bool checkFds = false;
    std::optional<int> searchMs;
};

Settings settings;

void log(std::string_view text) {
    if (settings.logFile.empty()) {
        return;
    }
    // Opened per line: nothing is lost when the engine is killed, and no descriptor stays open.
    std::ofstream file(settings.logFile, std::ios::app | std::ios::binary);
    file << text << '\n';
}

void say(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputs(settings.crlf ? "\r\n" : "\n", stdout);
    std::fflush(stdout);
}

[[noreturn]] void finish(const char* how) {
    log(how);
    std::fflush(stdout);
    // _Exit: the input thread may still sit in its read, and nothing static must go away
    // under it.
    std::_Exit(0);
}

void sayChatter() {
    say("Scripted test engine, at your service");
    say("");
}

// The descriptors the process holds, less the one that lists them.
std::string openDescriptors() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path listed = fs::canonical("/proc/self/fd", error);
    fs::directory_iterator it("/proc/self/fd", error);
    if (error) {
        return "unknown";
    }
    std::vector<int> fds;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (fs::read_symlink(it->path(), error) != listed) {
            fds.push_back(std::stoi(it->path().filename().string()));
        }
    }
    std::sort(fds.begin(), fds.end());
    std::string text;
    for (int fd : fds) {
        text += (text.empty() ? "" : " ") + std::to_string(fd);
    }
    return text;
}

// Lines from standard input, handed over by a thread so that a search can wait for "stop"
// and a deadline at once. An empty optional marks the end of input.
class Input {
public:
    void start() {
        // A buffered std::cin: kept in step with C stdio it reads byte by byte, and a line of
        // megabytes then takes seconds.
        std::ios::sync_with_stdio(false);
        std::thread([this] {
            std::string line;
            while (std::getline(std::cin, line)) {
                push(line);
            }
            push(std::nullopt);
        }).detach();
    }

    // False if the deadline passed first.
    bool next(std::optional<std::string>& line, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_until(lock, deadline, [this] { return !lines_.empty(); })) {
            return false;
        }
        line = std::move(lines_.front());
        lines_.pop_front();
        return true;
    }

private:
    void push(std::optional<std::string> line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
        ready_.notify_one();
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::optional<std::string>> lines_;
};

// "<n> <text>": the lines go out in one write, so the filter gets them all at once.
void repeat(std::string_view arguments) {
    const std::size_t space = arguments.find(' ');
    const int count = std::atoi(std::string(arguments.substr(0, space)).c_str());
    const std::string_view text =
        space == std::string_view::npos ? std::string_view() : arguments.substr(space + 1);
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines.append(text);
        lines.append(settings.crlf ? "\r\n" : "\n");
    }
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    std::fflush(stdout);
}

bool parseArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--log" && hasValue) {
            settings.logFile = argv[++i];
        } else if (arg == "--search-ms" && hasValue) {
            settings.searchMs = std::atoi(argv[++i]);
        } else if (arg == "--chatter") {
            settings.chatter = true;
        } else if (arg == "--crlf") {
            settings.crlf = true;
        } else if (arg == "--ignore-quit") {
            settings.ignoreQuit = true;
        } else if (arg == "--die-on-go") {
            settings.dieOnGo = true;
        } else if (arg == "--info-on-go") {
            settings.infoOnGo = true;
        } else if (arg == "--print-args") {
            settings.printArgs = true;
        } else if (arg == "--check-fds") {
            settings.checkFds = true;
        } else if (arg.starts_with("--")) {
            std::fprintf(stderr, "test engine: unknown flag %s\n", argv[i]);
            return false;
        }
    }
    return true;
}

void startUp(int argc, char** argv) {
    const std::string cwd = std::filesystem::current_path().string();
    log("#pid " + std::to_string(processId()));
    log("#cwd " + cwd);
    for (int i = 0; i < argc; ++i) {
        log("#arg " + std::to_string(i) + " " + argv[i]);
    }
    if (settings.printArgs) {
        for (int i = 0; i < argc; ++i) {
            say("info string arg " + std::to_string(i) + " " + argv[i]);
        }
        say("info string cwd " + cwd);
    }
    if (settings.checkFds) {
        const std::string fds = openDescriptors();
        log("#fds " + fds);
        say("info string fds " + fds);
    }
    if (settings.chatter) {
        sayChatter();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!parseArguments(argc, argv)) {
        return 2;
    }
    startUp(argc, argv);
    const Clock::time_point endOfLife = Clock::now() + kMaxLifetime;
    const auto searchTime =
        std::chrono::milliseconds(settings.searchMs.value_or(settings.infoOnGo ? 20000 : 0));

    Input input;
    input.start();
    bool searching = false;
    Clock::time_point searchEnd{};
    for (;;) {
        std::optional<std::string> line;
        if (!input.next(line, searching ? searchEnd : endOfLife)) {
            if (!searching) {
                finish("#lifetime over");
            }
            searching = false;
            say("bestmove e2e4");
            continue;
        }
        if (!line) {
            if (!settings.ignoreQuit) {
                finish("#exiting at end of input");
            }
            continue;
        }
        log(*line);
        const std::string_view command = *line;
        if (command == "uci") {
            say("id name Kestrowan test engine");
            say("id author the kestrowan tests");
            say("option name Hash type spin default 16 min 1 max 1024");
            say("uciok");
            if (settings.chatter) {
                sayChatter();
            }
        } else if (command == "isready") {
            say("readyok");
        } else if (command == "go" || command.starts_with("go ")) {
            if (settings.dieOnGo) {
                say("info string last words");
                finish("#dying on go");
            }
            if (settings.infoOnGo) {
                say("info depth 1 score cp 12 nodes 20 pv e2e4");
                say("info currmove e2e4 currmovenumber 1");
            }
            searching = true;
            searchEnd = Clock::now() + searchTime;
        } else if (command == "stop") {
            if (searching) {
                searching = false;
                say("bestmove e2e4");
            }
        } else if (command == "echo" || command.starts_with("echo ")) {
            say(command.substr(std::min<std::size_t>(command.size(), 5)));
        } else if (command.starts_with("repeat ")) {
            repeat(command.substr(7));
        } else if (command.starts_with("unterminated ")) {
            const std::string_view text = command.substr(13);
            std::fwrite(text.data(), 1, text.size(), stdout);
            finish("#exiting after an unterminated line");
        } else if (command == "quit" && !settings.ignoreQuit) {
            finish("#exiting");
        }
    }
}
