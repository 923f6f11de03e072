// How the filter starts the engine, and how the two of them end, cleanly or not.

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "filter_test.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

bool exitedWithZero(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

long elapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// The filter ends by itself, with exit status 0 and one error line with `message` on its
// stderr.
void expectErrorExit(ChildProcess& filter, std::string_view message) {
    const std::optional<int> status = filter.waitExit();
    ASSERT_TRUE(status) << "the filter did not end\n" << filter.transcript();
    EXPECT_TRUE(exitedWithZero(*status)) << "status " << *status;
    EXPECT_TRUE(isErrorLine(filter.stderrText(), message)) << filter.transcript();
}

TEST_F(FilterTest, QuitEndsFilterAndEnginePromptly) {
    auto filter = startHandshaken();
    // The longest wait for the engine makes a filter that waits it out stand out.
    filter->send("setoption name TimeQuit@Kestrowan value 1800");
    const auto start = Clock::now();
    quitCleanly(*filter);
    EXPECT_LT(elapsedMs(start), 1500);
    const Lines log = engineLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "quit");
    EXPECT_EQ(log.back(), "#exiting");
}

struct QuitCase {
    const char* name;
    Lines settings;
    long timeQuitMs;
};

// Names the case in test listings, instead of a dump of its bytes.
void PrintTo(const QuitCase& c, std::ostream* os) {
    *os << c.name;
}

class IgnoredQuitTest : public FilterTest, public ::testing::WithParamInterface<QuitCase> {};

TEST_P(IgnoredQuitTest, EngineIsEndedAfterTimeQuit) {
    const QuitCase& c = GetParam();
    auto filter = startHandshaken({"--ignore-quit"});
    for (const std::string& line : c.settings) {
        filter->send(line);
    }
    sync(*filter);
    const auto start = Clock::now();
    quitCleanly(*filter);
    const long elapsed = elapsedMs(start);
    // The filter's clock counts whole milliseconds: allow for one lost at each end.
    EXPECT_GE(elapsed, c.timeQuitMs - 2);
    EXPECT_LT(elapsed, c.timeQuitMs + 3000);
    EXPECT_TRUE(engineReceived("quit"));
    if (!underWine()) {
        for (long pid : enginePids()) {
            EXPECT_TRUE(waitProcessGone(pid, Duration(1000))) << "engine " << pid << " still runs";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    TimeQuit, IgnoredQuitTest,
    ::testing::Values(QuitCase{"Default", {}, 1000},
                      QuitCase{"Shortest", {"setoption name TimeQuit@Kestrowan value 200"}, 200}),
    [](const auto& info) { return info.param.name; });

// The command words of the scripted engine padded to `length` characters, joined.
Lines paddedTo(Lines words, std::size_t length) {
    const std::size_t joined =
        std::accumulate(words.begin(), words.end(), words.size(),
                        [](std::size_t n, const std::string& w) { return n + w.size(); });
    // One space goes before each word but the first, so `joined` counts the padding's too.
    words.push_back(std::string(length - joined, 'x'));
    return words;
}

struct StartupErrorCase {
    const char* name;
    const char* message;
};

void PrintTo(const StartupErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class StartupErrorTest : public FilterTest, public ::testing::WithParamInterface<StartupErrorCase> {
protected:
    Lines engineArgs(std::string_view name) {
        if (name == "NoEngine") {
            return {};
        }
        if (name == "MissingFile") {
            return {(dir_ / "no-such-engine").string(), "--log", logPath_};
        }
        if (name == "NotAProgram") {
            const fs::path file = dir_ / "engine.txt";
            std::ofstream(file) << "uciok\n";
            return {file.string()};
        }
        return paddedTo(engine(), 9999);
    }
};

TEST_P(StartupErrorTest, EndsWithOneErrorLine) {
    auto filter = startFilter(engineArgs(GetParam().name));
    expectErrorExit(*filter, GetParam().message);
    EXPECT_EQ(filter->stdoutBytes(), "");
    EXPECT_TRUE(engineLog().empty()) << "an engine was started";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupErrorTest,
    ::testing::Values(StartupErrorCase{"NoEngine", "Keine Engine angegeben"},
                      StartupErrorCase{"MissingFile", "Engineprozess lässt sich nicht starten"},
                      StartupErrorCase{"NotAProgram", "Engineprozess lässt sich nicht starten"},
                      StartupErrorCase{"CommandLineOf9999", "Die Kommandozeile ist zu lang"}),
    [](const auto& info) { return info.param.name; });

TEST_F(FilterTest, CommandLineOf9998Starts) {
    const Lines words = paddedTo(engine(), 9998);
    auto filter = startFilter(words);
    filter->send("uci");
    ASSERT_TRUE(filter->expectLine("uciok"));
    quitCleanly(*filter);
    // The padding arrived whole, as the engine's last argument.
    const std::string lastArg = "#arg " + std::to_string(words.size() - 1) + " " + words.back();
    EXPECT_TRUE(engineReceived(lastArg));
}

struct LocationCase {
    const char* name;
    bool posixOnly;
};

void PrintTo(const LocationCase& c, std::ostream* os) {
    *os << c.name;
}

class EngineLocationTest : public FilterTest, public ::testing::WithParamInterface<LocationCase> {};

// The engine gets the words of the command line, split at blanks, and starts in its own
// directory unless it was found through PATH.
TEST_P(EngineLocationTest, ArgumentsAndWorkingDirectory) {
    const std::string_view how = GetParam().name;
    if (GetParam().posixOnly && underWine()) {
        GTEST_SKIP() << "PATH lookup of a POSIX name";
    }
    const fs::path original = testEnginePath();
    const fs::path binDir = dir_ / "bin";
    fs::create_directory(binDir);
    fs::copy_file(original, binDir / original.filename());

    SpawnOptions options;
    options.workingDirectory = dir_.string();
    std::string program;
    fs::path expectedCwd;
    if (how == "Absolute") {
        program = original.string();
        expectedCwd = original.parent_path();
    } else if (how == "Relative") {
        program = (fs::path("bin") / original.filename()).string();
        expectedCwd = binDir;
    } else {
        program = original.filename().string();
        const char* path = std::getenv("PATH");
        options.environment = {"PATH=" + binDir.string() + ":" + (path != nullptr ? path : "")};
        expectedCwd = dir_;
    }
    auto filter = startFilter(
        {program, "--print-args", "--log", logPath_, "one", "two\tthree", "four  five"}, options);
    const Lines args = {"--print-args", "--log", logPath_, "one", "two", "three", "four", "five"};
    ASSERT_TRUE(filter->expectLine("info string arg 0 " + program));
    for (std::size_t i = 0; i < args.size(); ++i) {
        ASSERT_TRUE(filter->expectLine("info string arg " + std::to_string(i + 1) + " " + args[i]));
    }
    const std::optional<std::string> cwd = filter->expectLine(startsWith("info string cwd "));
    ASSERT_TRUE(cwd);
    if (!underWine()) {
        EXPECT_EQ(fs::canonical(cwd->substr(16)), fs::canonical(expectedCwd));
    }
    filter->send("uci");
    ASSERT_TRUE(filter->expectLine("uciok"));
    quitCleanly(*filter);
}

INSTANTIATE_TEST_SUITE_P(Ways, EngineLocationTest,
                         ::testing::Values(LocationCase{"Absolute", false},
                                           LocationCase{"Relative", false},
                                           LocationCase{"ThroughPath", true}),
                         [](const auto& info) { return info.param.name; });

// A signal mask of a process, from /proc: bit n-1 stands for signal n.
std::uint64_t signalMask(long pid, std::string_view field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field)) {
            return std::stoull(line.substr(field.size()), nullptr, 16);
        }
    }
    ADD_FAILURE() << "no " << field << " for process " << pid;
    return ~std::uint64_t{0};
}

TEST_F(FilterTest, EngineHoldsOnlyStandardDescriptorsAndDefaultSignals) {
    if (underWine()) {
        GTEST_SKIP() << "descriptors and signal masks are read from /proc";
    }
    SpawnOptions options;
    options.extraDescriptor = true;  // an open descriptor the GUI left to the filter
    auto filter = startFilter(engine({"--check-fds"}), options);
    ASSERT_TRUE(filter->expectLine("info string fds 0 1 2"));
    // Once the engine answers, it is past starting its input thread, which blocks signals for
    // a moment.
    sync(*filter);
    const std::vector<long> pids = enginePids();
    ASSERT_EQ(pids.size(), 1u);
    // The filter ignores SIGPIPE for itself; the engine must start with every default back,
    // the C library's own signals 32 and 33 included, which glibc's posix_spawn (that starts
    // the filter here) leaves ignored.
    EXPECT_EQ(signalMask(pids[0], "SigIgn:"), 0u);
    EXPECT_EQ(signalMask(pids[0], "SigBlk:"), 0u);
    quitCleanly(*filter);
}

TEST_F(FilterTest, GuiClosingInputEndsFilterAndEngine) {
    auto filter = startHandshaken();
    filter->closeStdin();
    expectErrorExit(*filter, "Lesefehler");
    if (!underWine()) {
        for (long pid : enginePids()) {
            EXPECT_TRUE(waitProcessGone(pid)) << "engine " << pid << " still runs";
        }
    }
}

TEST_F(FilterTest, EngineEndingOnItsOwnIsReportedAtOnce) {
    auto filter = startHandshaken({"--die-on-go"});
    filter->send("setoption name TimeInfo@Kestrowan value 0");
    filter->send("go infinite");
    // What the engine wrote before it ended still reaches the GUI, and the filter ends without
    // waiting for the GUI's next command to run into the dead engine.
    EXPECT_TRUE(filter->expectLine("info string last words"));
    expectErrorExit(*filter, "Lesefehler");
    EXPECT_TRUE(engineReceived("#dying on go"));
}

}  // namespace
}  // namespace e2e
