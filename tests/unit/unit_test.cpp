// The pure decisions as tables, and the one error exit. The line reader's rules are held by
// the fuzz target (fuzz/) and end to end (tests/e2e/relay.t).
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/fatal_error.h"
#include "filter/protocol.h"
#include "platform/thread.h"

namespace kestrowan {
namespace {

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
        {"Go", 0, 1, forward}, {" stop now", 0, 1, drop}, {"stop", 1, 1, forward},
        {"stopstopstopstop", 0, 1, forward}, {"quit", 1, 1, quit}, {"", 0, 1, forward},
        {"setoption name TimeInfo@Kestrowan value 5", 0, 1, setOption}};
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
        {" uciok", 0, 0, announceOptions}, {"uciokuciokuciok1", 0, 0, forward},
        {"bestmove e2e4 ponder e7e5", 0, 1, endSearch}, {"info depth 5", 4999, 0, drop},
        {"info depth 5", 5000, 1, forward}, {"info currmove e2e4", 9999, 1, drop},
        {"info currmove e2e4", 10000, 1, forward}, {"info depth 7 currmove e2e4", 5000, 1, drop},
        {"info currmovenumber 3", 5000, 1, forward}, {"info depth 7 currmove", 5000, 1, forward},
        {"information", 0, 1, drop}, {"id name Engine", 0, 1, forward},
        {"option name Hash type spin", 0, 1, forward}, {"readyok", 0, 1, forward}};
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

TEST(Decisions, StackSizesBelowTheMinimumRiseToWholePages) {
    // requested, minimum, page size, asked for (x86_64: 16384, 4 KiB; arm64: 131072, 64 KiB)
    // clang-format off
    const std::size_t cases[][4] = {{65536, 16384, 4096, 65536}, {256000, 131072, 65536, 256000},
        {65536, 131072, 65536, 131072}, {0, 140000, 4096, 143360}, {131071, 131072, 65536, 131072}};
    // clang-format on
    for (const auto& [requested, minimum, pageSize, expected] : cases) {
        EXPECT_EQ(validStackSize(requested, minimum, pageSize), expected) << requested;
    }
}

// As when a GUI that goes away closes both of the filter's streams at once.
TEST(FatalErrorDeathTest, ThreadsFailingAtOnceWriteOneLine) {
    auto failTogether = [] {
        std::atomic<bool> go{false};
        std::vector<std::jthread> threads;  // joined as they go
        for (const char* message : {"Lesefehler", "Schreibfehler", "Lesefehler", "Schreibfehler"}) {
            threads.emplace_back([&go, message] {
                while (!go.load()) {
                }
                fatalError(message, kNoHandle);
            });
        }
        go.store(true);
    };
    EXPECT_EXIT(failTogether(), testing::ExitedWithCode(0),
                "^info string Kestrowan: FEHLER [0-9-]+; (Lesefehler|Schreibfehler)\n$");
}

}  // namespace
}  // namespace kestrowan
