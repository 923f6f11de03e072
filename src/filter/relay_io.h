// What both relays need to start.
#pragma once

#include "io/line_reader.h"

namespace kestrowan {

// Creates a relay's reader, or ends the filter if its buffer cannot be had.
void openReader(LineReader& reader, Handle source, Handle engineProcess);

}  // namespace kestrowan
