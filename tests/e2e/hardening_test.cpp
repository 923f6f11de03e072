// The filter under abuse: killed by signals, fed bytes that no GUI or engine should send, and
// left behind by a GUI or an engine that goes away half-way. Each case has one defined outcome.

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "filter_test.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

// Set by the build for sanitizer builds, where the largest lines take too long to be worth it.
constexpr bool kSanitized = KESTROWAN_SANITIZED != 0;

Lines linesFrom(const ChildProcess& filter, std::size_t first) {
    const Lines all = filter.lines();
    return first < all.size() ? Lines(all.begin() + static_cast<std::ptrdiff_t>(first), all.end())
                              : Lines();
}

// Compares without printing megabytes: says where the two first differ.
testing::AssertionResult sameBytes(std::string_view actual, std::string_view expected) {
    if (actual == expected) {
        return testing::AssertionSuccess();
    }
    const auto mismatch =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    return testing::AssertionFailure()
           << actual.size() << " bytes instead of " << expected.size()
           << ", the first difference at offset " << (mismatch.first - actual.begin());
}

class HardeningTest : public FilterTest {
protected:
    // The filter ends by itself, with exit status 0 and one error line with `message`, and
    // takes its engine with it.
    void expectErrorEnd(ChildProcess& filter, std::string_view message) {
        const std::optional<int> status = filter.waitExit();
        ASSERT_TRUE(status) << "the filter did not end\n" << filter.transcript();
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
        EXPECT_TRUE(isErrorLine(filter.stderrText(), message)) << filter.transcript();
        expectEnginesGone(kDeadline);
    }

    void expectEnginesGone(Duration timeout) {
        if (underWine()) {
            return;  // a Windows process id means nothing to /proc
        }
        const std::vector<long> pids = enginePids();
        EXPECT_FALSE(pids.empty()) << "no engine logged its process id";
        for (long pid : pids) {
            EXPECT_TRUE(waitProcessGone(pid, timeout))
                << "engine " << pid << " still runs " << timeout.count() << " ms on";
        }
    }

    std::string engineLogBytes() const {
        std::ifstream file(logPath_, std::ios::binary | std::ios::ate);
        if (!file) {
            return {};
        }
        std::string bytes(static_cast<std::size_t>(file.tellg()), '\0');
        file.seekg(0);
        file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return bytes;
    }

    // The engine log's line that starts with `prefix`; empty if there is none.
    std::string loggedLine(std::string_view prefix) const {
        for (const std::string& line : engineLog()) {
            if (line.starts_with(prefix)) {
                return line;
            }
        }
        return {};
    }
};

// --- No engine outlives the filter, however the filter is ended.

struct SignalCase {
    const char* name;
    int signal;
};

void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

class FilterSignalledTest : public HardeningTest,
                            public ::testing::WithParamInterface<SignalCase> {};

// The engine ignores the end of its input and "quit" and is deep in a search: nothing but the
// filter's own ending can take it down.
TEST_P(FilterSignalledTest, EngineEndsWithinASecond) {
    if (underWine()) {
        GTEST_SKIP() << "POSIX signals; under Wine the filter is a Windows process, whose engine "
                        "goes with the job object";
    }
    const SignalCase& c = GetParam();
    auto filter = startHandshaken({"--ignore-quit", "--info-on-go"});
    filter->send("go infinite");
    sync(*filter);
    const std::vector<long> pids = enginePids();
    ASSERT_EQ(pids.size(), 1u);
    ASSERT_FALSE(processGone(pids[0]));

    ASSERT_TRUE(filter->sendSignal(c.signal));
    expectEnginesGone(Duration(1000));
    const std::optional<int> status = filter->waitExit();
    ASSERT_TRUE(status) << "the filter outlived " << c.name;
    // Whoever sent the signal learns that it took, as if the filter had not handled it.
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == c.signal) << "status " << *status;
}

INSTANTIATE_TEST_SUITE_P(Signals, FilterSignalledTest,
                         ::testing::Values(SignalCase{"SIGKILL", SIGKILL},
                                           SignalCase{"SIGTERM", SIGTERM},
                                           SignalCase{"SIGHUP", SIGHUP},
                                           SignalCase{"SIGINT", SIGINT}),
                         [](const auto& info) { return std::string(info.param.name).substr(3); });

// --- Bytes that are no text: passed on unchanged, both ways.

struct BytesCase {
    const char* name;
    std::string line;  // an engine line; the GUI sends it as "echo <line>"
};

void PrintTo(const BytesCase& c, std::ostream* os) {
    *os << c.name;
}

std::string highBytes() {
    std::string bytes;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        bytes += static_cast<char>(byte);
    }
    return bytes;
}

class RawBytesTest : public HardeningTest, public ::testing::WithParamInterface<BytesCase> {};

TEST_P(RawBytesTest, PassUnchangedBothWays) {
    const std::string& line = GetParam().line;
    auto filter = startHandshaken();
    const std::size_t start = filter->lines().size();
    filter->send("echo " + line);
    sync(*filter);
    EXPECT_TRUE(sameBytes(loggedLine("echo "), "echo " + line)) << "GUI to engine";
    const Lines received = linesFrom(*filter, start);
    ASSERT_EQ(received.size(), 2u) << filter->transcript();
    EXPECT_TRUE(sameBytes(received[0], line)) << "engine to GUI";
    quitCleanly(*filter);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Cases, RawBytesTest,
    ::testing::Values(
        // A NUL is data, also at the end, where trimming must not take it for white space.
        BytesCase{"NulBytes", "info string \0a\0\0b\0"s},
        // A carriage return ends nothing unless a line feed follows it.
        BytesCase{"CarriageReturnInside", "info string a\rb\r\rc"},
        BytesCase{"InvalidUtf8",
                  "info string \xC3\x28 \xE2\x82 \xF0\x28\x8C\x28 \xED\xA0\x80 \xFF"},
        BytesCase{"EveryHighByte", "info string " + highBytes()},
        // 0x85 and 0xA0 are white space in Windows-1252 and Unicode, but not here.
        BytesCase{"Windows1252SpacesAtEnd", "info string Caf\xE9 \x85\xA0"}),
    [](const auto& info) { return info.param.name; });

// --- Long lines: no limit but memory.

struct LongLineCase {
    const char* name;
    std::size_t bytes;
};

void PrintTo(const LongLineCase& c, std::ostream* os) {
    *os << c.name;
}

// `prefix` and then bytes up to `size` in all: no white space, every byte from 0x21 to 0xFE, in
// a pattern that shows a lost or repeated block.
std::string patternedLine(std::string_view prefix, std::size_t size) {
    std::string line(size, '\0');
    std::copy(prefix.begin(), prefix.end(), line.begin());
    for (std::size_t i = prefix.size(); i < size; ++i) {
        line[i] = static_cast<char>(0x21 + (i * 131) % 0xDE);
    }
    return line;
}

class LongLineTest : public HardeningTest, public ::testing::WithParamInterface<LongLineCase> {};

TEST_P(LongLineTest, PassesWholeBothWays) {
    const LongLineCase& c = GetParam();
    if (c.bytes > (1u << 20) && (kSanitized || underWine())) {
        // The plain build takes about 3 s for it, the filter under ThreadSanitizer alone about
        // 10 s. The megabyte case runs the same code: the buffers grow the same way, only fewer
        // times.
        GTEST_SKIP() << "64 MB lines run in the plain native build only";
    }
    // Built once and compared in place: at this size every copy costs time.
    std::string command = patternedLine("echo info string ", c.bytes + 6);
    command.back() = '\n';
    const std::string_view sent = std::string_view(command).substr(0, command.size() - 1);
    auto filter = startHandshaken();
    ASSERT_TRUE(filter->sendRaw(command));
    const std::optional<std::string> echoed = filter->expectLine(startsWith("info string "));
    ASSERT_TRUE(echoed);
    EXPECT_TRUE(sameBytes(*echoed, sent.substr(5))) << "engine to GUI";
    const std::string log = engineLogBytes();
    const std::size_t logged = log.find("\necho ");
    ASSERT_NE(logged, std::string::npos);
    EXPECT_TRUE(sameBytes(std::string_view(log).substr(logged + 1, sent.size()), sent))
        << "GUI to engine";
    ASSERT_GT(log.size(), logged + 1 + sent.size());
    EXPECT_EQ(log[logged + 1 + sent.size()], '\n');
    quitCleanly(*filter);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LongLineTest,
                         ::testing::Values(LongLineCase{"OneMegabyte", std::size_t{1} << 20},
                                           LongLineCase{"SixtyFourMegabytes",
                                                        std::size_t{64} << 20}),
                         [](const auto& info) { return info.param.name; });

// --- Words and numbers too long to be what they start like.

TEST_F(HardeningTest, LongFirstWordsAreNoKeywords) {
    auto filter = startHandshaken({"--search-ms", "20000"});
    // Were any of these taken for its keyword, the "go" would hold back the info line below,
    // the "stop" would be dropped (no search is outstanding) and the "quit" would end it all.
    const Lines commands = {"go" + std::string(98, 'o'), "stop" + std::string(96, 'p'),
                            "quit" + std::string(96, 't'), "setoption" + std::string(91, 'n')};
    for (const std::string& command : commands) {
        filter->send(command);
    }
    filter->send("echo info string still no search");
    ASSERT_TRUE(filter->expectLine("info string still no search"));
    for (const std::string& command : commands) {
        EXPECT_TRUE(engineReceived(command)) << command.substr(0, 10);
    }

    // From the engine, during a search: neither a uciok (no options are announced before it)
    // nor a bestmove (the search stays outstanding, so the "stop" still reaches the engine).
    filter->send("setoption name RemoveNonUci@Kestrowan value false");
    const std::size_t start = filter->lines().size();
    filter->send("go infinite");
    const Lines output = {"uciok" + std::string(95, 'k'), "bestmove" + std::string(92, 'e')};
    for (const std::string& line : output) {
        filter->send("echo " + line);
    }
    filter->send("stop");
    sync(*filter);
    Lines expected = output;
    expected.insert(expected.end(), {"bestmove e2e4", "readyok"});
    EXPECT_EQ(linesFrom(*filter, start), expected);
    quitCleanly(*filter);
}

class TwentyDigitTest : public HardeningTest, public ::testing::WithParamInterface<const char*> {};

// A value that does not fit 32 bits must leave the option as it was. Wrapped or clipped, these
// become large positive windows, which would hold back the info lines the engine prints at
// once on "go"; left at 0, they pass.
TEST_P(TwentyDigitTest, LeavesTheInfoWindowsAsTheyWere) {
    auto filter = startHandshaken({"--info-on-go"});
    for (const char* option : {"TimeInfo", "TimeCurrmove"}) {
        filter->send("setoption name "s + option + "@Kestrowan value 0");
        filter->send("setoption name "s + option + "@Kestrowan value " + GetParam());
    }
    const std::size_t start = filter->lines().size();
    filter->send("go infinite");
    ASSERT_TRUE(filter->expectLine(startsWith("info currmove ")));
    filter->send("stop");
    ASSERT_TRUE(filter->expectLine("bestmove e2e4"));
    EXPECT_EQ(linesFrom(*filter, start),
              (Lines{"info depth 1 score cp 12 nodes 20 pv e2e4",
                     "info currmove e2e4 currmovenumber 1", "bestmove e2e4"}));
    quitCleanly(*filter);
}

INSTANTIATE_TEST_SUITE_P(Values, TwentyDigitTest,
                         ::testing::Values("99999999999999999999", "-12345678901234567890"),
                         [](const auto& info) {
                             return std::string(info.param[0] == '-' ? "Negative" : "Positive");
                         });

// --- Empty lines, by the thousand.

constexpr int kEmptyLines = 5000;

TEST_F(HardeningTest, EmptyLinesFromTheGuiEachReachTheEngine) {
    auto filter = startHandshaken();
    ASSERT_TRUE(filter->sendRaw(std::string(kEmptyLines, '\n')));
    sync(*filter);
    const Lines log = engineLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), ""), kEmptyLines);
    quitCleanly(*filter);
}

TEST_F(HardeningTest, EmptyLinesFromTheEngineFollowRemoveNonUci) {
    auto filter = startHandshaken();
    const std::string burst = "repeat " + std::to_string(kEmptyLines);
    std::size_t start = filter->lines().size();
    filter->send(burst);
    sync(*filter);
    EXPECT_EQ(linesFrom(*filter, start), Lines{"readyok"});

    filter->send("setoption name RemoveNonUci@Kestrowan value false");
    start = filter->lines().size();
    filter->send(burst);
    sync(*filter);
    Lines expected(kEmptyLines, "");
    expected.push_back("readyok");
    EXPECT_EQ(linesFrom(*filter, start), expected);
    quitCleanly(*filter);
}

// --- Peers that go away half-way.

// The reader hands out whole lines only, so a line that never gets its line feed is never
// passed on: the GUI gets everything up to the last line feed, then the error line.
TEST_F(HardeningTest, EngineEndingInsideALineIsAReadError) {
    auto filter = startHandshaken();
    filter->send("echo info string whole");
    ASSERT_TRUE(filter->expectLine("info string whole"));
    filter->send("unterminated info string half");
    expectErrorEnd(*filter, "Lesefehler");
    EXPECT_TRUE(engineReceived("#exiting after an unterminated line"));
    const std::string output = filter->stdoutBytes();
    EXPECT_TRUE(output.ends_with("info string whole\n")) << filter->transcript();
}

// The engine would search on: it ignores the end of its input.
TEST_F(HardeningTest, GuiClosingInputMidSearchEndsFilterAndEngine) {
    auto filter = startHandshaken({"--ignore-quit", "--info-on-go"});
    filter->send("go infinite");
    sync(*filter);
    filter->closeStdin();
    expectErrorEnd(*filter, "Lesefehler");
}

TEST_F(HardeningTest, GuiClosingOutputEndsFilterAtItsNextWrite) {
    auto filter = startHandshaken({"--ignore-quit"});
    filter->closeStdout();
    // The engine answers; passing the answer on is the filter's first write to a GUI that has
    // gone.
    filter->send("isready");
    expectErrorEnd(*filter, "Schreibfehler");
    EXPECT_TRUE(engineReceived("isready"));
}

}  // namespace
}  // namespace e2e
