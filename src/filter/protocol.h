// The relays' decisions, kept free of I/O so that each rule can be checked on its own.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/filter_state.h"

namespace kestrowan {

inline constexpr std::size_t kMaxWordLength = 15;

// The first white-space-delimited word, cut to 15 bytes; empty if the line has no word.
std::string_view firstWord(std::string_view line);

struct OptionSetting {
    OptionId id = OptionId::timeCurrmove;
    bool hasValue = false;  // false: the option keeps its value
    std::int32_t value = 0;
};

// True if the line sets one of the filter's own options; `setting` then says what to store.
bool recogniseSetoption(std::string_view line, OptionSetting& setting);

// A signed decimal as "%ld" reads it (leading white space, optional sign, digits up to the
// first other byte). False if there is no number or it does not fit 32 bits.
bool parseNumber(std::string_view text, std::int32_t& value);

enum class CommandAction { forward, drop, setOption, startSearch, quit };

CommandAction decideCommand(std::string_view line, const FilterState& state,
                            OptionSetting& setting);

enum class OutputAction { forward, drop, announceOptions, endSearch };

// What to do with one line of engine output at time `now`. Every action but drop forwards the
// line after its own step.
OutputAction decideOutput(std::string_view line, const FilterState& state, std::int64_t now);

}  // namespace kestrowan
