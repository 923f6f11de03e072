// The pure decisions as tables, the line reader over a real pipe, and the one error exit.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/fatal_error.h"
#include "filter/protocol.h"
#include "io/line_reader.h"
#include "platform/pipe.h"

namespace kestrowan {
namespace {

using namespace std::string_literals;

// An error exit ends the process with status 0, which would pass for success.
class RefuseExit : public testing::Environment {
    void SetUp() override {
        std::atexit([] {
            if (!testing::internal::InDeathTestChild() &&
                testing::UnitTest::GetInstance()->current_test_info() != nullptr) {
                std::_Exit(1);
            }
        });
    }
};
[[maybe_unused]] const auto* refuseExit = testing::AddGlobalTestEnvironment(new RefuseExit);

TEST(Decisions, FirstWordAndNumbers) {
    // clang-format off
    const std::pair<std::string_view, std::string_view> words[] = {
        {"go depth 5", "go"}, {"\t \v\fisready", "isready"}, {" \t\r ", ""},
        {"exactlyfifteen1 x", "exactlyfifteen1"}, {"sixteencharacter", "sixteencharacte"},
        {"go\xA0x", "go\xA0x"}};
    const std::pair<std::string_view, std::optional<std::int32_t>> numbers[] = {
        {" \t +42", 42}, {"-7", -7}, {"10abc", 10}, {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1}, {"2147483648", {}}, {"-2147483649", {}},
        {"99999999999999999999", {}}, {"", {}}, {"- 5", {}}, {"abc", {}}};
    // clang-format on
    for (const auto& [line, word] : words) {
        EXPECT_EQ(firstWord(line), word) << '"' << line << '"';
    }
    for (const auto& [text, expected] : numbers) {
        std::int32_t value = 12345;
        EXPECT_EQ(parseNumber(text, value), expected.has_value()) << text;
        EXPECT_EQ(value, expected.value_or(12345)) << text;
    }
}

TEST(Decisions, SetoptionTakesOnlyTheFiltersOwnOptions) {
    struct Case {
        std::string_view line;
        std::optional<OptionId> id;         // nothing: not ours, forwarded
        std::optional<std::int32_t> value;  // nothing: the option keeps its value
    };
    using enum OptionId;
    const Case cases[] = {
        {"setoption name TimeCurrmove@Kestrowan value 100", timeCurrmove, 100},
        {"setoption name TimeInfo@Kestrowan value   -3", timeInfo, -3},
        {"setoption name TimeQuit@Kestrowan value abc", timeQuit, {}},
        {"setoption name RemoveNonUci@Kestrowan value tru", removeNonUci, 0},
        {"setoption name RemoveStop@Kestrowan value \t  trueish", removeStop, 1},
        {"setoption name RemoveStop@Kestrowan value TRUE", removeStop, 0},
        {"setoption name Hash@Kestrowan value 5", {}, {}},
        {"setoption name TimeInfo@Kestrowan", {}, {}},
        {"setoption name TimeInfo@Kestrowanvalue 5", {}, {}},
        {"setoption name XTimeInfo@Kestrowan value 5", {}, {}},
        {"setoption value 5 name TimeInfo@Kestrowan value 6", {}, {}},
    };
    for (const Case& c : cases) {
        OptionSetting setting;
        ASSERT_EQ(recogniseSetoption(c.line, setting), c.id.has_value()) << c.line;
        if (c.id) {
            EXPECT_EQ(setting.id, *c.id) << c.line;
            EXPECT_EQ(setting.hasValue, c.value.has_value()) << c.line;
            EXPECT_EQ(setting.value, c.value.value_or(setting.value)) << c.line;
        }
    }
}

TEST(Decisions, CommandsActOnTheWholeFirstWord) {
    using enum CommandAction;
    // clang-format off
    const std::tuple<std::string_view, std::int32_t /*searching*/, std::int32_t /*removeStop*/,
                     CommandAction> cases[] = {
        {"go", 0, 1, startSearch}, {"  go depth 5", 2, 1, startSearch}, {"gox", 0, 1, forward},
        {"Go", 0, 1, forward}, {"stop", 0, 1, drop}, {" stop now", 0, 1, drop},
        {"stop", 0, 0, forward}, {"stop", 1, 1, forward}, {"stopstopstopstop", 0, 1, forward},
        {"quit", 1, 1, quit}, {"setoption name TimeInfo@Kestrowan value 5", 0, 1, setOption},
        {"setoption name Hash value 16", 0, 1, forward}, {"", 0, 1, forward}};
    // clang-format on
    for (const auto& [line, searching, removeStop, action] : cases) {
        FilterState state;
        state.searching = searching;
        state.removeStop = removeStop;
        OptionSetting setting;
        EXPECT_EQ(decideCommand(line, state, setting), action)
            << '"' << line << "\" searching " << searching << " removeStop " << removeStop;
    }
}

TEST(Decisions, OutputFollowsTheFirstWordAndTheInfoWindows) {
    using enum OutputAction;
    // The windows close at 5000 (info) and 10000 (currmove).
    // clang-format off
    const std::tuple<std::string_view, std::int64_t /*now*/, std::int32_t /*removeNonUci*/,
                     OutputAction> cases[] = {
        {"uciok", 0, 1, announceOptions}, {" uciok", 0, 0, announceOptions},
        {"uciokuciokuciok1", 0, 1, drop}, {"bestmove e2e4 ponder e7e5", 0, 1, endSearch},
        {"info depth 5", 4999, 0, drop}, {"info depth 5", 5000, 1, forward},
        {"info currmove e2e4", 9999, 1, drop}, {"info currmove e2e4", 10000, 1, forward},
        {"info depth 7 currmove e2e4", 5000, 1, drop}, {"info currmovenumber 3", 5000, 1, forward},
        {"info depth 7 currmove", 5000, 1, forward}, {"information", 0, 1, drop},
        {"information", 0, 0, forward}, {"id name Engine", 0, 1, forward},
        {"readyok", 0, 1, forward}, {"option name Hash type spin", 0, 1, forward},
        {"copyprotection ok", 0, 1, forward}, {"registration checking", 0, 1, forward},
        {"", 0, 1, drop}, {"", 0, 0, forward}};
    // clang-format on
    for (const auto& [line, now, removeNonUci, action] : cases) {
        FilterState state;
        state.infoDeadline = 5000;
        state.currmoveDeadline = 10000;
        state.removeNonUci = removeNonUci;
        EXPECT_EQ(decideOutput(line, state, now), action)
            << '"' << line << "\" at " << now << " removeNonUci " << removeNonUci;
    }
}

TEST(LineReader, HandsOutTrimmedLinesWhateverTheReadsBring) {
    const std::string a(9999, 'a');
    const std::string b(20000, 'b');
    // Each chunk arrives in a read of its own; then come the lines and the capacity.
    // clang-format off
    const std::tuple<std::vector<std::string>, std::vector<std::string>, std::uint32_t> cases[] = {
        {{"go\r\n", "  \tisready \t\v\f\r\n"}, {"go", "  \tisready"}, 10000},
        {{" \t\r \n", "\n", "a\0b\n\0\n"s, "a\rb\xA0\x85\n"}, {"", "", "a\0b"s, "\0"s, "a\rb\xA0\x85"}, 10000},
        {{"one\n two \nthr", "ee\nfo", "u", "r\n"}, {"one", " two", "three", "four"}, 10000},
        {{a + "\n"}, {a}, 10000},
        {{a + "a", "\nx\n"}, {a + "a", "x"}, 20000},
        {{b.substr(0, 7000), b.substr(7000) + "\n"}, {b}, 40000}};
    // clang-format on
    for (const auto& [chunks, lines, capacity] : cases) {
        Handle readEnd = kNoHandle;
        Handle writeEnd = kNoHandle;
        ASSERT_TRUE(createPipe(readEnd, writeEnd));
        std::thread writer([&] {
            for (const std::string& chunk : chunks) {
                writeHandle(writeEnd, chunk.data(), static_cast<std::uint32_t>(chunk.size()));
                for (int left = 1; left > 0; std::this_thread::yield()) {
                    ioctl(static_cast<int>(readEnd), FIONREAD, &left);
                }
            }
        });
        LineReader reader;
        ASSERT_TRUE(createLineReader(reader, readEnd));
        for (const std::string& expected : lines) {
            const Line line = readLine(reader, kNoHandle);
            EXPECT_EQ(line.view(), expected) << chunks[0].substr(0, 20);
            EXPECT_EQ(line.text[line.length], '\0');
        }
        EXPECT_EQ(reader.capacity, capacity) << chunks[0].substr(0, 20);
        writer.join();
        releaseLineReader(reader);
        closeHandle(readEnd);
        closeHandle(writeEnd);
    }
}

// As when a GUI that goes away closes both of the filter's streams at once.
TEST(FatalErrorDeathTest, TwoThreadsFailingAtOnceWriteOneLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto failTogether = [] {
        std::atomic<bool> go{false};
        auto fail = [&go](const char* message) {
            while (!go.load()) {
            }
            fatalError(message, kNoHandle);
        };
        std::thread first(fail, "Lesefehler");
        std::thread second(fail, "Schreibfehler");
        go.store(true);
        first.join();
        second.join();
    };
    EXPECT_EXIT(failTogether(), testing::ExitedWithCode(0),
                "^info string Kestrowan: FEHLER [0-9-]+; (Lesefehler|Schreibfehler)\n$");
}

}  // namespace
}  // namespace kestrowan
