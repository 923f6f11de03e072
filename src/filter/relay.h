// The two relay loops: GUI commands to the engine, engine output to the GUI.
#pragma once

#include "core/filter_state.h"

namespace kestrowan {

// The main thread's loop. Returns once "quit" has been forwarded and the engine and the
// output thread have ended or been given up on; every failure ends the process instead.
void runCommandRelay(FilterState& state);

// The output thread's loop. Returns 0 once it finds the quit flag set.
int runOutputRelay(FilterState& state);

// runOutputRelay as a thread's start routine; `state` is the FilterState.
void outputThreadMain(void* state);

}  // namespace kestrowan
