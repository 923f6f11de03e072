#include "scripted_input.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/fatal_error.h"
#include "platform/handle.h"

namespace kestrowan {

namespace {
std::string_view pending;
std::vector<std::uint32_t> chunks;
std::size_t nextChunk = 0;
}  // namespace

void fuzz::scriptInput(std::string_view data, std::vector<std::uint32_t> chunkSizes) {
    pending = data;
    chunks = std::move(chunkSizes);
    nextChunk = 0;
}

std::int64_t readHandle(Handle, void* buffer, std::uint32_t size) {
    std::uint32_t chunk = chunks.empty() ? size : chunks[nextChunk++ % chunks.size()];
    chunk = std::max<std::uint32_t>(1, std::min<std::uint32_t>(chunk, size));
    const std::size_t count = std::min<std::size_t>(chunk, pending.size());
    std::memcpy(buffer, pending.data(), count);
    pending.remove_prefix(count);
    return static_cast<std::int64_t>(count);
}

// The targets never read past their last line, so any error exit is a finding.
void fatalError(const char*, Handle) {
    std::abort();
}

std::int64_t nowMs() {
    return 0;
}

}  // namespace kestrowan
