// The two relay loops: GUI commands to the engine, engine output to the GUI.
#pragma once

#include "core/filter_state.h"

namespace kestrowan {

// The main thread's loop. Returns once "quit" has been forwarded and the engine and the
// output thread have ended or been given up on; the end of the GUI's input ends the process the
// same way, with "Lesefehler", and so does every failure.
void runCommandRelay(FilterState& state);

// The output thread's loop. Returns 0 once everything that the engine wrote has been passed on
// (or let go, for a GUI that stopped reading) after the session began to end; an engine that
// ends before that ends the filter with "Lesefehler".
int runOutputRelay(FilterState& state);

// runOutputRelay as a thread's start routine; `state` is the FilterState.
void outputThreadMain(void* state);

}  // namespace kestrowan
