// The relays' pure decisions, each rule as a table.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "filter/protocol.h"

namespace kestrowan {
namespace {

TEST(Decisions, FirstWordAndNumbers) {
    // clang-format off
    const std::pair<std::string_view, std::string_view> words[] = {
        {"go depth 5", "go"}, {"\t \v\fisready", "isready"}, {" \t\r ", ""},
        {"exactlyfifteen1 x", "exactlyfifteen1"}, {"sixteencharacter", "sixteencharacte"},
        {"go\xA0x", "go\xA0x"}};
    const std::pair<std::string_view, std::optional<std::int32_t>> numbers[] = {
        {"1500", 1500}, {" \t 42", 42}, {"+7", 7}, {"-7", -7}, {"10abc", 10},
        {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}, {"2147483648", {}},
        {"-2147483649", {}}, {"99999999999999999999", {}}, {"", {}}, {"- 5", {}}, {"abc", {}}};
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
        {"setoption name TimeInfo@Kestrowan value 200", timeInfo, 200},
        {"setoption name TimeQuit@Kestrowan value 5000", timeQuit, 5000},
        {"setoption name TimeQuit@Kestrowan value   -3", timeQuit, -3},
        {"setoption name TimeQuit@Kestrowan value abc", timeQuit, std::nullopt},
        {"setoption name TimeInfo@Kestrowan value 2147483648", timeInfo, std::nullopt},
        {"setoption name RemoveNonUci@Kestrowan value false", removeNonUci, 0},
        {"setoption name RemoveNonUci@Kestrowan value tru", removeNonUci, 0},
        {"setoption name RemoveStop@Kestrowan value true", removeStop, 1},
        {"setoption name RemoveStop@Kestrowan value \t  true", removeStop, 1},
        {"setoption name RemoveStop@Kestrowan value   trueish", removeStop, 1},
        {"setoption name RemoveStop@Kestrowan value TRUE", removeStop, 0},
        {"setoption  name  RemoveStop@Kestrowan value  ", removeStop, 0},
        {"setoption name Hash@Kestrowan value 5", std::nullopt, std::nullopt},
        {"setoption name Hash value 16", std::nullopt, std::nullopt},
        {"setoption name TimeInfo@Kestrowan", std::nullopt, std::nullopt},
        {"setoption name TimeInfo@Kestrowanvalue 5", std::nullopt, std::nullopt},
        {"setoption name XTimeInfo@Kestrowan value 5", std::nullopt, std::nullopt},
        {"setoption value 5 name TimeInfo@Kestrowan value 6", std::nullopt, std::nullopt},
        {"setoption name@Kestrowan value 5 name TimeInfo", std::nullopt, std::nullopt},
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
    struct Case {
        std::string_view line;
        std::int32_t searching;
        std::int32_t removeStop;
        CommandAction action;
    };
    using enum CommandAction;
    const Case cases[] = {
        {"go", 0, 1, startSearch},
        {"  go depth 5", 2, 1, startSearch},
        {"gox", 0, 1, forward},
        {"Go", 0, 1, forward},
        {"gogogogogogogogogo", 0, 1, forward},
        {"stop", 0, 1, drop},
        {" stop now", 0, 1, drop},
        {"stop", 0, 0, forward},
        {"stop", 1, 1, forward},
        {"stopstopstopstop", 0, 1, forward},
        {"quit", 1, 1, quit},
        {"quitquitquitquit", 0, 1, forward},
        {"setoption name TimeInfo@Kestrowan value 5", 0, 1, setOption},
        {"setoption name Hash value 16", 0, 1, forward},
        {"", 0, 1, forward},
    };
    for (const Case& c : cases) {
        FilterState state;
        state.searching = c.searching;
        state.removeStop = c.removeStop;
        OptionSetting setting;
        EXPECT_EQ(decideCommand(c.line, state, setting), c.action)
            << '"' << c.line << "\" searching " << c.searching << " removeStop " << c.removeStop;
    }
}

TEST(Decisions, OutputFollowsTheFirstWordAndTheInfoWindows) {
    struct Case {
        std::string_view line;
        std::int64_t now;  // the windows close at 5000 (info) and 10000 (currmove)
        std::int32_t removeNonUci;
        OutputAction action;
    };
    using enum OutputAction;
    const Case cases[] = {
        {"uciok", 0, 1, announceOptions},
        {" uciok", 0, 0, announceOptions},
        {"uciokuciokuciok1", 0, 1, drop},
        {"bestmove e2e4 ponder e7e5", 0, 1, endSearch},
        {"info depth 5", 4999, 0, drop},
        {"info depth 5", 5000, 1, forward},
        {"info currmove e2e4 currmovenumber 1", 9999, 1, drop},
        {"info currmove e2e4 currmovenumber 1", 10000, 1, forward},
        {"info depth 7 currmove e2e4", 5000, 1, drop},
        {"info currmovenumber 3", 5000, 1, forward},
        {"info depth 7 currmove", 5000, 1, forward},
        {"info string a currmove b", 9999, 1, drop},
        {"information", 9999, 1, drop},
        {"information", 9999, 0, forward},
        {"id name Engine", 0, 1, forward},
        {"readyok", 0, 1, forward},
        {"option name Hash type spin", 0, 1, forward},
        {"copyprotection ok", 0, 1, forward},
        {"registration checking", 0, 1, forward},
        {"Engine 1.0 by somebody", 0, 1, drop},
        {"", 0, 1, drop},
        {"", 0, 0, forward},
    };
    for (const Case& c : cases) {
        FilterState state;
        state.infoDeadline = 5000;
        state.currmoveDeadline = 10000;
        state.removeNonUci = c.removeNonUci;
        EXPECT_EQ(decideOutput(c.line, state, c.now), c.action)
            << '"' << c.line << "\" at " << c.now << " removeNonUci " << c.removeNonUci;
    }
}

}  // namespace
}  // namespace kestrowan
