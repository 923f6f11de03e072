#include "filter_test.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <limits>

namespace e2e {

namespace {

// The message as a Windows build writes it: in Latin-1, its text-mode stream ending the line
// with CR LF.
std::string windowsErrorText(std::string_view utf8) {
    std::string latin1;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if ((byte == 0xC2 || byte == 0xC3) && i + 1 < utf8.size()) {
            const auto next = static_cast<unsigned char>(utf8[++i]);
            latin1 += static_cast<char>(((byte & 0x03) << 6) | (next & 0x3F));
        } else {
            latin1 += static_cast<char>(byte);
        }
    }
    return latin1 + "\r\n";
}

}  // namespace

bool isErrorLine(std::string_view text, std::string_view message) {
    constexpr std::string_view kPrefix = "info string Kestrowan: FEHLER ";
    const std::string expected =
        underWine() ? windowsErrorText(message) : std::string(message) + "\n";
    if (!text.starts_with(kPrefix)) {
        return false;
    }
    text.remove_prefix(kPrefix.size());
    std::size_t digits = text.starts_with('-') ? 1 : 0;
    const std::size_t first = digits;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    return digits > first && text.substr(digits) == "; " + expected;
}

void FilterTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrowan-e2e-XXXXXX");
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    logPath_ = (dir_ / "engine.log").string();
}

void FilterTest::TearDown() {
    if (!underWine()) {
        for (long pid : enginePids()) {
            if (!waitProcessGone(pid)) {
                ADD_FAILURE() << "engine " << pid << " is still running after the test";
                ::kill(static_cast<pid_t>(pid), SIGKILL);
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> FilterTest::engine(std::vector<std::string> flags) const {
    std::vector<std::string> words = {testEnginePath(), "--log", logPath_};
    words.insert(words.end(), flags.begin(), flags.end());
    return words;
}

std::unique_ptr<ChildProcess> FilterTest::startFilter(const std::vector<std::string>& engineArgs,
                                                      SpawnOptions options) const {
    std::vector<std::string> argv = filterCommand();
    argv.insert(argv.end(), engineArgs.begin(), engineArgs.end());
    return std::make_unique<ChildProcess>(argv, std::move(options));
}

std::unique_ptr<ChildProcess> FilterTest::startHandshaken(std::vector<std::string> flags) const {
    auto filter = startFilter(engine(std::move(flags)));
    filter->send("uci");
    EXPECT_TRUE(filter->expectLine("uciok"));
    return filter;
}

void FilterTest::sync(ChildProcess& filter) {
    filter.send("isready");
    EXPECT_TRUE(filter.expectLine("readyok"));
}

void FilterTest::quitCleanly(ChildProcess& filter) {
    filter.send("quit");
    const std::optional<int> status = filter.waitExit();
    ASSERT_TRUE(status) << "the filter did not end after quit\n" << filter.transcript();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
    EXPECT_EQ(filter.stderrText(), "");
}

std::vector<std::string> FilterTest::engineLog() const {
    std::vector<std::string> lines;
    std::ifstream log(logPath_, std::ios::binary);
    for (std::string line; std::getline(log, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool FilterTest::engineReceived(std::string_view line) const {
    for (const std::string& logged : engineLog()) {
        if (logged == line) {
            return true;
        }
    }
    return false;
}

std::vector<long> FilterTest::enginePids() const {
    std::vector<long> pids;
    std::ifstream log(logPath_, std::ios::binary);
    // Only the engine's own lines are read whole; what it received may run to megabytes.
    while (log.peek() != std::ifstream::traits_type::eof()) {
        if (log.peek() != '#') {
            log.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
            continue;
        }
        std::string line;
        std::getline(log, line);
        if (line.starts_with("#pid ")) {
            pids.push_back(std::stol(line.substr(5)));
        }
    }
    return pids;
}

}  // namespace e2e
