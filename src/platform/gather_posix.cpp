#include <limits.h>
#include <poll.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

#include "platform/handle.h"
#include "platform/ready_posix.h"

namespace kestrowan {

std::int64_t writeHandleSpans(Handle handle, const ByteSpan* spans, std::uint32_t count) {
    constexpr std::uint32_t kMaxVectors = IOV_MAX < 1024 ? IOV_MAX : 1024;
    iovec vectors[kMaxVectors];
    std::int64_t total = 0;
    std::uint32_t next = 0;  // first span not yet handed to writev
    std::uint32_t taken = 0;
    std::uint32_t first = 0;  // first vector with bytes left
    while (first < taken || next < count) {
        // Refill the vector array once it has been written out.
        if (first == taken) {
            taken = std::min(count - next, kMaxVectors);
            for (std::uint32_t i = 0; i < taken; ++i) {
                vectors[i].iov_base = const_cast<char*>(spans[next + i].data);
                vectors[i].iov_len = spans[next + i].size;
            }
            next += taken;
            first = 0;
        }
        ssize_t n =
            ::writev(static_cast<int>(handle), vectors + first, static_cast<int>(taken - first));
        if (n < 0 && (errno == EINTR || waitUntilReady(handle, POLLOUT))) {
            continue;
        }
        if (n <= 0) {
            return total == 0 && n < 0 ? -1 : total;
        }
        total += n;
        // Skip what was written; a vector written in part goes on from where it stopped.
        auto left = static_cast<std::size_t>(n);
        while (first < taken && left >= vectors[first].iov_len) {
            left -= vectors[first].iov_len;
            ++first;
        }
        if (left > 0) {
            vectors[first].iov_base = static_cast<char*>(vectors[first].iov_base) + left;
            vectors[first].iov_len -= left;
        }
    }
    return total;
}

}  // namespace kestrowan
