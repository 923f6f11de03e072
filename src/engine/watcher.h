// Noticing at once that the engine has ended.
#pragma once

#include "core/filter_state.h"

namespace kestrowan {

// A thread's start routine; `state` is the FilterState. Waits for the engine to end, without
// reaping it, ends whatever the engine started, and then writes the end marker into the
// engine's output pipe and lets go of the filter's own hold on that pipe. The output relay then
// passes on the rest of what the engine wrote and knows where it ends. The engine's process id
// stays ours until the filter ends, so terminating it can hit no other.
void watchEngine(void* state);

}  // namespace kestrowan
