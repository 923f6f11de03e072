#include "io/line_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/fatal_error.h"
#include "core/messages.h"

namespace kestrowan {

namespace {

// Hands out the bytes from `start` up to `lineEnd` (a line feed, or the held data's end) as a
// line, trimmed, and moves `start` past them.
void handOut(LineReader& reader, std::uint32_t lineEnd, Line& line) {
    char* buffer = reader.buffer;
    const std::uint32_t lineStart = reader.start;
    std::uint32_t end = lineEnd;
    buffer[end] = '\0';
    while (end > lineStart && isWhiteSpace(buffer[end - 1])) {
        buffer[--end] = '\0';
    }
    reader.start = std::min(lineEnd + 1, reader.length);
    line = Line{buffer + lineStart, end - lineStart};
}

// Looks for a line feed from offset `from` on, and hands out the line it ends.
bool takeLine(LineReader& reader, std::uint32_t from, Line& line) {
    void* found = std::memchr(reader.buffer + from, '\n', reader.length - from);
    if (found == nullptr) {
        return false;
    }
    handOut(reader, static_cast<std::uint32_t>(static_cast<char*>(found) - reader.buffer), line);
    return true;
}

void grow(LineReader& reader, Handle engineProcess) {
    if (reader.capacity > std::numeric_limits<std::uint32_t>::max() / 2 - 1) {
        fatalError(message::kNoMemory, engineProcess);
    }
    const std::uint32_t capacity = reader.capacity * 2;
    void* buffer = std::realloc(reader.buffer, std::size_t{capacity} + 1);
    if (buffer == nullptr) {
        fatalError(message::kNoMemory, engineProcess);
    }
    reader.buffer = static_cast<char*>(buffer);
    reader.capacity = capacity;
}

}  // namespace

bool takeHeldLine(LineReader& reader, Line& line) {
    return reader.length > reader.start && takeLine(reader, reader.start, line);
}

bool takeLastLine(LineReader& reader, Line& line) {
    if (!reader.ended || reader.length == reader.start) {
        return false;
    }
    // The held data is followed by its NUL, which becomes the line's end.
    handOut(reader, reader.length, line);
    return true;
}

bool createLineReader(LineReader& reader, Handle handle) {
    reader = LineReader{};
    reader.handle = handle;
    reader.buffer = static_cast<char*>(std::malloc(std::size_t{kReaderCapacity} + 1));
    if (reader.buffer == nullptr) {
        return false;
    }
    reader.buffer[0] = '\0';
    reader.capacity = kReaderCapacity;
    return true;
}

void releaseLineReader(LineReader& reader) {
    std::free(reader.buffer);
    reader = LineReader{};
}

bool readLine(LineReader& reader, Line& line, Handle engineProcess) {
    if (takeHeldLine(reader, line)) {
        return true;
    }
    if (reader.ended) {
        return false;
    }
    if (reader.length > reader.start) {
        if (reader.start > 0) {
            std::memmove(reader.buffer, reader.buffer + reader.start,
                         reader.length - reader.start + 1);
            reader.length -= reader.start;
            reader.start = 0;
        }
    } else {
        reader.length = 0;
        reader.start = 0;
    }
    // Bytes before `searched` are known to hold no line feed, so a long line is scanned once.
    std::uint32_t searched = reader.length;
    for (;;) {
        std::int64_t count = readHandle(reader.handle, reader.buffer + reader.length,
                                        reader.capacity - reader.length);
        if (count < 0) {
            fatalError(message::kReadError, engineProcess);
        }
        if (count == 0) {
            reader.ended = true;
            return false;
        }
        reader.length += static_cast<std::uint32_t>(count);
        reader.buffer[reader.length] = '\0';
        if (takeLine(reader, searched, line)) {
            return true;
        }
        searched = reader.length;
        if (reader.length == reader.capacity) {
            grow(reader, engineProcess);
        }
    }
}

}  // namespace kestrowan
