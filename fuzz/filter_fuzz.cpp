// Random bytes, cut into reads of random sizes, through the line reader: the lines that come
// out must be the lines that went in, without their trailing white space, a last part line
// included. Then both relays'
// decisions on each line, with random flags and times, are held against what must never
// happen.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/fatal_error.h"
#include "filter/protocol.h"
#include "io/line_reader.h"

namespace kestrowan {

FuzzedDataProvider* provider = nullptr;
std::string_view pending;

// Stand-ins for the platform: each read brings a chunk of the fuzzer's choosing.
std::int64_t readHandle(Handle, void* buffer, std::uint32_t size) {
    const std::size_t count = std::min<std::size_t>(
        provider->ConsumeIntegralInRange<std::uint32_t>(1, size), pending.size());
    std::memcpy(buffer, pending.data(), count);
    pending.remove_prefix(count);
    return static_cast<std::int64_t>(count);
}

// Nothing is read past the last line, so any error exit is a finding.
void fatalError(const char*, Handle) {
    std::abort();
}

bool brokenDecisions(const std::string& line, FuzzedDataProvider& random) {
    FilterState state;
    state.searching = random.ConsumeIntegralInRange<std::int32_t>(0, 3);
    state.removeStop = random.ConsumeBool();
    state.removeNonUci = random.ConsumeBool();
    state.currmoveDeadline = random.ConsumeIntegral<std::int64_t>();
    state.infoDeadline = random.ConsumeIntegral<std::int64_t>();
    const std::int64_t now = random.ConsumeIntegral<std::int64_t>();
    const std::string_view word = firstWord(line);
    bool broken = word.size() > kMaxWordLength || word.find_first_of(" \t\n\v\f\r") != word.npos;
    OptionSetting setting;
    const CommandAction command = decideCommand(line, state, setting);
    broken |= command == CommandAction::setOption &&
              (word != "setoption" || line.find("@Kestrowan ") == std::string::npos);
    broken |= command == CommandAction::drop && (word != "stop" || state.searching != 0);
    // Nothing the engine sends as protocol is lost outside the info windows.
    const bool protocol = word == "id" || word == "readyok" || word == "option" ||
                          word == "uciok" || word == "bestmove" || word == "copyprotection" ||
                          word == "registration";
    const bool windowsOpen = now < state.currmoveDeadline || now < state.infoDeadline;
    broken |=
        decideOutput(line, state, now) == OutputAction::drop &&
        (protocol || (word == "info" && !windowsOpen) || (!state.removeNonUci && word != "info"));
    return broken;
}

}  // namespace kestrowan

using namespace kestrowan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider random(data, size);
    provider = &random;
    // Repeating the text lets small inputs reach lines of up to four first capacities.
    const unsigned repeat = random.ConsumeIntegralInRange<unsigned>(1, 4 * kReaderCapacity / 1024);
    const std::string piece = random.ConsumeRandomLengthString(1024);
    std::string text;
    for (unsigned i = 0; i < repeat; ++i) {
        text += piece;
    }
    // Often the text ends in a part line without a line feed, as a script's last command may.
    text += random.ConsumeBool() ? "\n" : "";
    pending = text;
    const auto trimmed = [&](std::size_t begin, std::size_t end) {
        while (end > begin && isWhiteSpace(text[end - 1])) {
            --end;
        }
        return std::string_view(text).substr(begin, end - begin);
    };
    LineReader reader;
    createLineReader(reader, 0);
    std::size_t begin = 0;
    for (std::size_t lf = 0; (lf = text.find('\n', begin)) != text.npos; begin = lf + 1) {
        Line line{};
        if (!readLine(reader, line, kNoHandle) || line.view() != trimmed(begin, lf) ||
            line.text[line.length] != '\0' || brokenDecisions(std::string(line.view()), random)) {
            std::abort();
        }
    }
    Line last{};
    const bool part = begin < text.size();
    if (readLine(reader, last, kNoHandle) || takeLastLine(reader, last) != part ||
        (part && (last.view() != trimmed(begin, text.size()) || last.text[last.length] != '\0'))) {
        std::abort();
    }
    releaseLineReader(reader);
    return 0;
}
