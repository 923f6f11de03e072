// The line reader under random chunking of random bytes: the lines that come out must be the
// lines that went in, each without its trailing white space.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "io/line_reader.h"
#include "scripted_input.h"

using namespace kestrowan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    std::vector<std::uint32_t> chunks(provider.ConsumeIntegralInRange<std::size_t>(0, 16));
    for (std::uint32_t& chunk : chunks) {
        chunk = provider.ConsumeIntegralInRange<std::uint32_t>(1, 30000);
    }
    // Repeating the text lets small inputs reach lines longer than the buffer.
    const unsigned repeat = provider.ConsumeIntegralInRange<unsigned>(1, 64);
    const std::string piece = provider.ConsumeRemainingBytesAsString();
    std::string text;
    for (unsigned i = 0; i < repeat; ++i) {
        text += piece;
    }
    text += '\n';

    std::vector<std::string> expected;
    std::size_t begin = 0;
    for (std::size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', begin)) {
        std::size_t end = lf;
        while (end > begin && isWhiteSpace(text[end - 1])) {
            --end;
        }
        expected.emplace_back(text, begin, end - begin);
        begin = lf + 1;
    }

    fuzz::scriptInput(text, chunks);
    LineReader reader;
    if (!createLineReader(reader, 0)) {
        return 0;
    }
    for (const std::string& want : expected) {
        const Line line = readLine(reader, kNoHandle);
        if (line.view() != want || line.text[line.length] != '\0') {
            std::abort();
        }
    }
    if (reader.start != reader.length) {
        std::abort();  // everything read was handed out
    }
    releaseLineReader(reader);
    return 0;
}
