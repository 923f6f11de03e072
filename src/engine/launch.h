// Starting the engine behind two pipes.
#pragma once

#include <string>

#include "core/filter_state.h"

namespace kestrowan {

// The command line is at most this long (commandLineLength), its terminating NUL included.
inline constexpr std::size_t kMaxCommandLine = 9999;

// Starts the engine named by argv[1], with argv[2] onward as its arguments, and fills in the
// state's pipe ends, saved standard handles and engine process. Any failure ends the filter.
void launchEngine(FilterState& state, int argc, char** argv);

// Joins argv[1] to argv[argc-1] with single spaces, the first as commandLineProgram writes it.
// False if that would not fit.
bool buildCommandLine(int argc, char** argv, std::string& commandLine);

}  // namespace kestrowan
