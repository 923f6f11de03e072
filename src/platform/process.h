// Child processes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handle.h"

namespace kestrowan {

// The directory part of a program path, final separator included; empty if there is none.
std::string programDirectory(const char* programPath);

// Starts `program` with `commandLine` in `workingDirectory` (the filter's own if empty). The
// child's standard input and output are those last installed by setStdHandle; its standard
// error is the filter's. Returns the process handle, or kNoHandle if it could not start.
Handle startProcess(const char* program, const char* commandLine, const char* workingDirectory);

// Ends the process at once and unconditionally.
void terminateProcess(Handle process);

// Waits up to `timeoutMs` milliseconds (all bits set: no limit) for the process to end.
// Returns true only if it has ended. The process is not reaped, so its id stays ours.
bool waitProcess(Handle process, std::uint32_t timeoutMs);

}  // namespace kestrowan
