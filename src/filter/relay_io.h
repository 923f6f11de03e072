// Writing a relayed line, shared by both relays.
#pragma once

#include "io/line_reader.h"

namespace kestrowan {

// Puts the line feed back in place and writes the line with one call; a failed or short
// write ends the filter with "Schreibfehler".
void writeLine(Handle target, Line line, Handle engineProcess);

// Creates a relay's reader, or ends the filter if its buffer cannot be had.
void openReader(LineReader& reader, Handle source, Handle engineProcess);

}  // namespace kestrowan
