// Noticing at once that the engine has ended on its own.
#pragma once

#include "core/filter_state.h"

namespace kestrowan {

// A thread's start routine; `state` is the FilterState. Waits for the engine to end, without
// reaping it, and then lets go of the filter's own hold on the engine's output pipe. The
// output relay then reads the rest of what the engine wrote, reaches the end of the pipe and
// ends the filter through "Lesefehler", as the GUI would see it without the filter. The
// engine's process id stays ours until the error exit, so terminating it can hit no other.
void watchEngine(void* state);

}  // namespace kestrowan
