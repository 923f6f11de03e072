// Both relays' decisions on arbitrary lines, flags and times, held against what must never
// happen, and the option value reader held against the C library's.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "filter/protocol.h"
#include "io/line_reader.h"

using namespace kestrowan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    FilterState state;
    state.searching = provider.ConsumeIntegralInRange<std::int32_t>(0, 3);
    state.removeStop = provider.ConsumeBool();
    state.removeNonUci = provider.ConsumeBool();
    state.currmoveDeadline = provider.ConsumeIntegral<std::int64_t>();
    state.infoDeadline = provider.ConsumeIntegral<std::int64_t>();
    const std::int64_t now = provider.ConsumeIntegral<std::int64_t>();
    const std::string line = provider.ConsumeRemainingBytesAsString();
    const std::string_view word = firstWord(line);
    bool broken = word.size() > kMaxWordLength || word.find_first_of(" \t\n\v\f\r") != word.npos;

    OptionSetting setting;
    const CommandAction command = decideCommand(line, state, setting);
    broken |= command == CommandAction::setOption &&
              (word != "setoption" || line.find("@Kestrowan ") == std::string::npos);
    broken |= command == CommandAction::drop && (word != "stop" || state.searching != 0);

    // Nothing the engine sends as protocol is lost outside the info windows.
    const OutputAction output = decideOutput(line, state, now);
    const bool protocol = word == "id" || word == "readyok" || word == "option" ||
                          word == "uciok" || word == "bestmove" || word == "copyprotection" ||
                          word == "registration";
    broken |= output == OutputAction::drop &&
              (protocol ||
               (word == "info" && now >= state.currmoveDeadline && now >= state.infoDeadline) ||
               (!state.removeNonUci && word != "info"));

    if (line.find('\0') == std::string::npos) {
        std::int32_t value = 0;
        const bool parsed = parseNumber(line, value);
        char* end = nullptr;
        errno = 0;
        const long long reference = std::strtoll(line.c_str(), &end, 10);
        const bool fits = end != line.c_str() && errno == 0 && reference == std::int32_t(reference);
        broken |= parsed != fits || (parsed && value != reference);
    }
    if (broken) {
        std::abort();
    }
    return 0;
}
