// The command side's decision and setoption parsing on arbitrary lines.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "filter/protocol.h"
#include "io/line_reader.h"

using namespace kestrowan;

namespace {

// An independent reading of a decimal number, to hold parseNumber against.
bool referenceNumber(const std::string& text, std::int32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && isWhiteSpace(text[i])) {
        ++i;
    }
    std::size_t digits = i;
    if (digits < text.size() && (text[digits] == '+' || text[digits] == '-')) {
        ++digits;
    }
    if (digits >= text.size() || text[digits] < '0' || text[digits] > '9') {
        return false;
    }
    errno = 0;
    const long long parsed = std::strtoll(text.c_str() + i, nullptr, 10);
    if (errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    value = static_cast<std::int32_t>(parsed);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    FilterState state;
    state.searching = provider.ConsumeIntegralInRange<std::int32_t>(0, 3);
    state.removeStop = provider.ConsumeBool();
    const std::string line = provider.ConsumeRemainingBytesAsString();

    const std::string_view word = firstWord(line);
    if (word.size() > kMaxWordLength) {
        std::abort();
    }
    for (char c : word) {
        if (isWhiteSpace(c)) {
            std::abort();
        }
    }

    OptionSetting setting;
    const CommandAction action = decideCommand(line, state, setting);
    if (action == CommandAction::setOption &&
        (word != "setoption" || line.find("@Kestrowan ") == std::string::npos)) {
        std::abort();
    }
    if (action == CommandAction::drop && (word != "stop" || state.searching != 0)) {
        std::abort();
    }

    if (line.find('\0') == std::string::npos) {
        std::int32_t parsed = 0;
        std::int32_t reference = 0;
        const bool ok = parseNumber(line, parsed);
        if (ok != referenceNumber(line, reference) || (ok && parsed != reference)) {
            std::abort();
        }
    }
    return 0;
}
