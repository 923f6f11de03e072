// A growable buffered reader that hands out one trimmed line at a time, in place.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/handle.h"

namespace kestrowan {

struct LineReader {
    Handle handle = kNoHandle;
    char* buffer = nullptr;  // capacity + 1 bytes: the held data is always followed by a NUL
    std::uint32_t capacity = 0;
    std::uint32_t length = 0;
    std::uint32_t start = 0;  // first byte not yet handed out
    // The stream has ended: it is not read again, as a terminal would wait for more after it.
    bool ended = false;
};

// A line without its line end and trailing white space. NUL bytes are ordinary data. The byte
// at text[length] still belongs to the line's buffer span, so a caller may put the line feed
// back there and write the whole line with one call.
struct Line {
    char* text;
    std::uint32_t length;

    std::string_view view() const { return {text, length}; }
};

// The first capacity. A flood of engine output arrives in reads of up to this size, and each
// read costs a wake-up and a system call: 64 KiB, the size of a default pipe, roughly halves
// the CPU time per line against 10000 bytes, and larger buffers measured no better.
inline constexpr std::uint32_t kReaderCapacity = 65536;

// Space, tab, line feed, vertical tab, form feed and carriage return; nothing from 0x80 up.
inline bool isWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Returns false if the buffer cannot be allocated.
bool createLineReader(LineReader& reader, Handle handle);
void releaseLineReader(LineReader& reader);

// Hands out the next line if it is held whole already; never reads. Lines handed out this way
// stay in place until a call to readLine.
bool takeHeldLine(LineReader& reader, Line& line);

// Blocks until a whole line is held and hands it out; valid until the next call on the reader.
// Returns false at the end of the stream, where a part line without its line feed is held back
// for takeLastLine; a read failure ends the filter with "Lesefehler".
bool readLine(LineReader& reader, Line& line, Handle engineProcess);

// Once readLine has returned false: hands out the part line that the stream ended with, trimmed
// like any other, if there is one. A caller that does not ask lets it go.
bool takeLastLine(LineReader& reader, Line& line);

}  // namespace kestrowan
