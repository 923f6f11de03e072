#include "filter/protocol.h"

#include <algorithm>
#include <array>
#include <functional>
#include <limits>

#include "io/line_reader.h"

namespace kestrowan {

namespace {

enum class OptionKind { number, check };

struct OptionPattern {
    std::string_view nameBeforeMarker;  // the leading space makes the name a whole word
    OptionId id;
    OptionKind kind;
};

// Order matters: the first pattern that ends right before the marker decides.
constexpr std::array<OptionPattern, 5> kOptionPatterns = {{
    {" TimeQuit", OptionId::timeQuit, OptionKind::number},
    {" TimeCurrmove", OptionId::timeCurrmove, OptionKind::number},
    {" TimeInfo", OptionId::timeInfo, OptionKind::number},
    {" RemoveStop", OptionId::removeStop, OptionKind::check},
    {" RemoveNonUci", OptionId::removeNonUci, OptionKind::check},
}};

// Info lines are long and full of spaces, which makes a plain find() stop at every one of them;
// this searcher skips ahead by the length of the word.
bool namesCurrmove(std::string_view line) {
    static constexpr std::string_view kCurrmove = " currmove ";
    static const std::boyer_moore_horspool_searcher searcher(kCurrmove.begin(), kCurrmove.end());
    return std::search(line.begin(), line.end(), searcher) != line.end();
}

std::string_view skipWhiteSpace(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isWhiteSpace(text[i])) {
        ++i;
    }
    return text.substr(i);
}

}  // namespace

std::string_view firstWord(std::string_view line) {
    line = skipWhiteSpace(line);
    std::size_t length = 0;
    while (length < line.size() && length < kMaxWordLength && !isWhiteSpace(line[length])) {
        ++length;
    }
    return line.substr(0, length);
}

bool parseNumber(std::string_view text, std::int32_t& value) {
    text = skipWhiteSpace(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    const std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + negative;
    std::int64_t magnitude = 0;
    std::size_t digits = 0;
    bool overflow = false;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        magnitude = magnitude * 10 + (text[digits] - '0');
        if (magnitude > limit) {
            overflow = true;
            magnitude = limit;  // keep reading the digits, but never past 32 bits
        }
    }
    if (digits == 0 || overflow) {
        return false;
    }
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

bool recogniseSetoption(std::string_view line, OptionSetting& setting) {
    constexpr std::string_view kName = " name ";
    constexpr std::string_view kMarker = "@Kestrowan ";
    constexpr std::string_view kValue = " value ";
    const std::size_t name = line.find(kName);
    const std::size_t marker = line.find(kMarker);
    const std::size_t value = line.find(kValue);
    if (name == std::string_view::npos || marker == std::string_view::npos ||
        value == std::string_view::npos || !(name < marker && marker < value)) {
        return false;
    }
    const std::string_view beforeMarker = line.substr(0, marker);
    const std::string_view valueText = line.substr(value + kValue.size());
    for (const OptionPattern& pattern : kOptionPatterns) {
        if (!beforeMarker.ends_with(pattern.nameBeforeMarker)) {
            continue;
        }
        setting.id = pattern.id;
        if (pattern.kind == OptionKind::number) {
            setting.hasValue = parseNumber(valueText, setting.value);
        } else {
            // Anything that starts with these four letters counts as on; all else as off.
            setting.hasValue = true;
            setting.value = skipWhiteSpace(valueText).starts_with("true") ? 1 : 0;
        }
        return true;
    }
    return false;
}

CommandAction decideCommand(std::string_view line, const FilterState& state,
                            OptionSetting& setting) {
    const std::string_view word = firstWord(line);
    if (word == "setoption") {
        return recogniseSetoption(line, setting) ? CommandAction::setOption
                                                 : CommandAction::forward;
    } else if (word == "go") {
        return CommandAction::startSearch;
    } else if (word == "stop") {
        // A stop with no search outstanding can only confuse an engine.
        const bool idle = state.searching.load() == 0;
        return state.removeStop.load() != 0 && idle ? CommandAction::drop : CommandAction::forward;
    } else if (word == "quit") {
        return CommandAction::quit;
    }
    return CommandAction::forward;
}

OutputAction decideOutput(std::string_view line, const FilterState& state, std::int64_t now) {
    const std::string_view word = firstWord(line);
    if (word == "uciok") {
        return OutputAction::announceOptions;
    } else if (word == "bestmove") {
        return OutputAction::endSearch;
    } else if (word == "info") {
        const std::int64_t currmoveDeadline = state.currmoveDeadline.load();
        const std::int64_t infoDeadline = state.infoDeadline.load();
        // Past both windows every info line passes, and the search for " currmove ", the
        // dearest step of a flood of info lines, can be skipped.
        if (now >= currmoveDeadline && now >= infoDeadline) {
            return OutputAction::forward;
        }
        const std::int64_t deadline = namesCurrmove(line) ? currmoveDeadline : infoDeadline;
        return now >= deadline ? OutputAction::forward : OutputAction::drop;
    } else if (word == "id" || word == "readyok" || word == "option" || word == "copyprotection" ||
               word == "registration") {
        return OutputAction::forward;
    }
    return state.removeNonUci.load() != 0 ? OutputAction::drop : OutputAction::forward;
}

}  // namespace kestrowan
