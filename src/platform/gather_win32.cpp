#include <vector>

#include "platform/handle.h"

namespace kestrowan {

// Pipes on Windows have no gathering write: the spans are joined and written with one call.
std::int64_t writeHandleSpans(Handle handle, const ByteSpan* spans, std::uint32_t count) {
    thread_local std::vector<char> joined;
    joined.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        joined.insert(joined.end(), spans[i].data, spans[i].data + spans[i].size);
    }
    return writeHandle(handle, joined.data(), static_cast<std::uint32_t>(joined.size()));
}

}  // namespace kestrowan
