// The line reader under random chunking of random bytes: the lines that come out must be the
// lines that went in, each without its trailing white space.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/fatal_error.h"
#include "io/line_reader.h"

namespace kestrowan {

namespace {
std::string_view pending;
std::vector<std::uint32_t> chunks;
std::size_t nextChunk = 0;
}  // namespace

// Stand-ins for the platform: each read brings the next chunk's worth of input.
std::int64_t readHandle(Handle, void* buffer, std::uint32_t size) {
    const std::uint32_t chunk = chunks.empty() ? size : chunks[nextChunk++ % chunks.size()];
    const std::size_t count = std::min<std::size_t>({chunk, size, pending.size()});
    std::memcpy(buffer, pending.data(), count);
    pending.remove_prefix(count);
    return static_cast<std::int64_t>(count);
}

// Nothing is read past the last line, so any error exit is a finding.
void fatalError(const char*, Handle) {
    std::abort();
}

}  // namespace kestrowan

using namespace kestrowan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    chunks.assign(provider.ConsumeIntegralInRange<std::size_t>(0, 16), 0);
    for (std::uint32_t& chunk : chunks) {
        chunk = provider.ConsumeIntegralInRange<std::uint32_t>(1, 30000);
    }
    nextChunk = 0;
    // Repeating the text lets small inputs reach lines longer than the buffer.
    const unsigned repeat = provider.ConsumeIntegralInRange<unsigned>(1, 64);
    const std::string piece = provider.ConsumeRemainingBytesAsString();
    std::string text;
    for (unsigned i = 0; i < repeat; ++i) {
        text += piece;
    }
    text += '\n';
    pending = text;
    LineReader reader;
    createLineReader(reader, 0);
    for (std::size_t begin = 0, lf = 0; (lf = text.find('\n', begin)) != text.npos;
         begin = lf + 1) {
        std::size_t end = lf;
        while (end > begin && isWhiteSpace(text[end - 1])) {
            --end;
        }
        const Line line = readLine(reader, kNoHandle);
        if (line.view() != std::string_view(text).substr(begin, end - begin) ||
            line.text[line.length] != '\0') {
            std::abort();
        }
    }
    if (reader.start != reader.length) {
        std::abort();  // everything read was handed out
    }
    releaseLineReader(reader);
    return 0;
}
