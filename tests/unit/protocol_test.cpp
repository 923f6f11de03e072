#include "filter/protocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kestrowan {
namespace {

TEST(FirstWord, SkipsLeadingWhiteSpaceAndCutsAt15Bytes) {
    struct Case {
        std::string_view line;
        std::string_view word;
    };
    const Case cases[] = {
        {"go depth 5", "go"},
        {"   go", "go"},
        {"\t \tisready", "isready"},
        {"", ""},
        {" \t  ", ""},
        {"exactlyfifteen1 x", "exactlyfifteen1"},
        {"sixteencharacter x", "sixteencharacte"},
        {"abcdefghijklmnopqrstuvwxyz", "abcdefghijklmno"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(firstWord(c.line), c.word) << '"' << c.line << '"';
    }
}

TEST(ParseNumber, ReadsA32BitDecimalOrNothing) {
    struct Case {
        std::string_view text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"1500", 1500},
        {" \t 42", 42},
        {"+7", 7},
        {"-7", -7},
        {"10abc", 10},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"- 5", std::nullopt},
        {"abc", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::int32_t value = 12345;
        const bool parsed = parseNumber(c.text, value);
        EXPECT_EQ(parsed, c.value.has_value());
        EXPECT_EQ(value, c.value.value_or(12345)) << "a failed parse must leave the value";
    }
}

TEST(RecogniseSetoption, TakesOnlyTheFiltersOwnOptions) {
    struct Case {
        std::string_view line;
        bool ours;
        OptionId id;
        std::optional<std::int32_t> value;  // nothing: the option keeps its value
    };
    using enum OptionId;
    const Case cases[] = {
        {"setoption name TimeCurrmove@Kestrowan value 100", true, timeCurrmove, 100},
        {"setoption name TimeInfo@Kestrowan value 200", true, timeInfo, 200},
        {"setoption name TimeQuit@Kestrowan value 300", true, timeQuit, 300},
        {"setoption name RemoveNonUci@Kestrowan value false", true, removeNonUci, 0},
        {"setoption name RemoveStop@Kestrowan value true", true, removeStop, 1},
        {"setoption name RemoveStop@Kestrowan value TRUE", true, removeStop, 0},
        {"setoption name RemoveStop@Kestrowan value trueish", true, removeStop, 1},
        {"setoption name RemoveNonUci@Kestrowan value tru", true, removeNonUci, 0},
        {"setoption name TimeInfo@Kestrowan value abc", true, timeInfo, std::nullopt},
        {"setoption name TimeInfo@Kestrowan value 2147483648", true, timeInfo, std::nullopt},
        {"setoption name TimeInfo@Kestrowan value -2147483649", true, timeInfo, std::nullopt},
        {"setoption name TimeInfo@Kestrowan value 2147483647", true, timeInfo, 2147483647},
        {"setoption name TimeInfo@Kestrowan value -2147483648", true, timeInfo, -2147483647 - 1},
        {"setoption name TimeQuit@Kestrowan value   +250", true, timeQuit, 250},
        {"setoption name TimeQuit@Kestrowan value -3", true, timeQuit, -3},
        {"setoption name TimeQuit@Kestrowan value 10abc", true, timeQuit, 10},
        {"setoption name Hash@Kestrowan value 5", false, timeInfo, std::nullopt},
        {"setoption name Hash value 16", false, timeInfo, std::nullopt},
        {"setoption name TimeInfo@Kestrowan", false, timeInfo, std::nullopt},
        {"setoption name TimeInfo@Kestrowan value", false, timeInfo, std::nullopt},
        {"setoption name xTimeInfo@Kestrowan value 5", false, timeInfo, std::nullopt},
        {"setoption name Foo value TimeInfo@Kestrowan value 5", false, timeInfo, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        OptionSetting setting;
        ASSERT_EQ(recogniseSetoption(c.line, setting), c.ours);
        if (c.ours) {
            EXPECT_EQ(setting.id, c.id);
            EXPECT_EQ(setting.hasValue, c.value.has_value());
            if (c.value) {
                EXPECT_EQ(setting.value, *c.value);
            }
        }
    }
}

TEST(DecideCommand, ActsOnTheFirstWord) {
    struct Case {
        std::string_view line;
        std::int32_t searching;
        std::int32_t removeStop;
        CommandAction action;
    };
    using enum CommandAction;
    const Case cases[] = {
        {"go", 0, 1, startSearch},
        {"  go depth 5", 0, 1, startSearch},
        {"go infinite", 3, 1, startSearch},
        {"gox", 0, 1, forward},
        {"Go", 0, 1, forward},
        {"gogogogogogogogogo", 0, 1, forward},
        {"stopstopstopstopstop", 0, 1, forward},
        {"stop", 0, 1, drop},
        {"  stop", 0, 1, drop},
        {"stop", 0, 0, forward},
        {"stop", 2, 1, forward},
        {"stop", 2, 0, forward},
        {"stopx", 0, 1, forward},
        {"quit", 0, 1, quit},
        {" quit now", 2, 1, quit},
        {"setoption name TimeInfo@Kestrowan value 5", 0, 1, setOption},
        {"setoption name Hash value 16", 0, 1, forward},
        {"position startpos moves e2e4", 1, 1, forward},
        {"", 0, 1, forward},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.line << "\" searching " << c.searching
                                        << " removeStop " << c.removeStop);
        FilterState state;
        state.searching = c.searching;
        state.removeStop = c.removeStop;
        OptionSetting setting;
        EXPECT_EQ(decideCommand(c.line, state, setting), c.action);
    }
}

TEST(DecideOutput, FiltersByFirstWordAndDeadline) {
    constexpr std::int64_t kInfoDeadline = 5000;
    constexpr std::int64_t kCurrmoveDeadline = 10000;
    struct Case {
        std::string_view line;
        std::int64_t now;
        std::int32_t removeNonUci;
        OutputAction action;
    };
    using enum OutputAction;
    const Case cases[] = {
        {"uciok", 0, 1, announceOptions},
        {" uciok", 0, 0, announceOptions},
        {"uciokx", 0, 1, drop},
        {"bestmove e2e4 ponder e7e5", 0, 1, endSearch},
        {"info depth 5", 4999, 1, drop},
        {"info depth 5", 5000, 1, forward},
        {"info depth 5", 5001, 1, forward},
        {"info depth 5", 4999, 0, drop},
        {"info currmove e2e4 currmovenumber 1", 5000, 1, drop},
        {"info currmove e2e4 currmovenumber 1", 9999, 1, drop},
        {"info currmove e2e4 currmovenumber 1", 10000, 1, forward},
        {"info depth 7 currmove e2e4", 9999, 1, drop},
        {"info currmovenumber 3", 4999, 1, drop},
        {"info currmovenumber 3", 5000, 1, forward},
        {"info depth 7 currmove", 5000, 1, forward},
        {"information", 9999, 0, forward},
        {"information", 9999, 1, drop},
        {"id name Engine", 0, 1, forward},
        {"readyok", 0, 1, forward},
        {"option name Hash type spin default 16 min 1 max 1024", 0, 1, forward},
        {"copyprotection ok", 0, 1, forward},
        {"registration checking", 0, 1, forward},
        {"Engine 1.0 by somebody", 0, 1, drop},
        {"Engine 1.0 by somebody", 0, 0, forward},
        {"", 0, 1, drop},
        {"", 0, 0, forward},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << '"' << c.line << "\" at " << c.now << " removeNonUci " << c.removeNonUci);
        FilterState state;
        state.infoDeadline = kInfoDeadline;
        state.currmoveDeadline = kCurrmoveDeadline;
        state.removeNonUci = c.removeNonUci;
        EXPECT_EQ(decideOutput(c.line, state, c.now), c.action);
    }
}

TEST(DecideOutput, WithholdsNothingBeforeTheFirstGo) {
    const FilterState state;
    for (const std::int64_t now : {std::int64_t{0}, std::int64_t{1}}) {
        EXPECT_EQ(decideOutput("info depth 1", state, now), OutputAction::forward);
        EXPECT_EQ(decideOutput("info currmove e2e4", state, now), OutputAction::forward);
    }
}

}  // namespace
}  // namespace kestrowan
