// Process-wide services: clock, error codes, start-up settings and text encoding.
#pragma once

#include <cstdint>

#include "platform/handle.h"

namespace kestrowan {

// Milliseconds of a clock that never steps back; every reading is at or above 0.
std::int64_t monotonicMs();

// The calling thread's last operating-system error code.
long lastErrorCode();

// Settings the filter needs before it does anything else (signal dispositions and the like).
void prepareProcess();

// From now on, a request from outside to end the filter (SIGTERM, SIGHUP, SIGINT; a console
// close on Windows) terminates `process` as terminateProcess does before the filter ends. On
// POSIX such requests wait from prepareProcess until this call, so none slips in between.
void terminateOnEndRequest(Handle process);

// Writes `line` (UTF-8, ending in one line feed) to standard error in the platform's text
// encoding and line end: Windows-1252 and CR LF on Windows. Gives up after `timeoutMs`, so
// that a standard error that nobody reads cannot hold the filter.
void writeErrorLine(const char* line, std::uint32_t timeoutMs);

// Ends the process with `status` once the C streams are flushed. Other threads may be blocked
// in a read or a wait at that moment, and nothing they hold is released first.
[[noreturn]] void exitProcess(int status);

}  // namespace kestrowan
