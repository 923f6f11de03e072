// The output side's decision on arbitrary lines, flags and times.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "filter/protocol.h"

using namespace kestrowan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    FilterState state;
    state.removeNonUci = provider.ConsumeBool();
    state.currmoveDeadline = provider.ConsumeIntegral<std::int64_t>();
    state.infoDeadline = provider.ConsumeIntegral<std::int64_t>();
    const std::int64_t now = provider.ConsumeIntegral<std::int64_t>();
    const std::string line = provider.ConsumeRemainingBytesAsString();

    const OutputAction action = decideOutput(line, state, now);
    const std::string_view word = firstWord(line);
    // Nothing the engine sends as protocol may be lost outside the info windows.
    const bool protocol = word == "id" || word == "readyok" || word == "option" ||
                          word == "uciok" || word == "bestmove" || word == "copyprotection" ||
                          word == "registration";
    if (protocol && action == OutputAction::drop) {
        std::abort();
    }
    if (word == "info" && action == OutputAction::drop && now >= state.currmoveDeadline &&
        now >= state.infoDeadline) {
        std::abort();
    }
    if (!state.removeNonUci && word != "info" && action == OutputAction::drop) {
        std::abort();
    }
    return 0;
}
