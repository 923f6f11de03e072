// Child processes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/handle.h"

namespace kestrowan {

// The directory part of a program path, final separator included; empty if there is none.
std::string programDirectory(const char* programPath);

// `program` as the first word of its command line: in double quotes when it holds a space or
// a tab, so that it stays one word; unchanged otherwise, so that a line which needed no quotes
// keeps its bytes. A Windows file name cannot hold a double quote, so nothing is escaped.
inline std::string commandLineProgram(std::string_view program) {
    if (program.find_first_of(" \t") == std::string_view::npos) {
        return std::string(program);
    }
    return '"' + std::string(program) + '"';
}

// The length of a command line as the system counts it: bytes on POSIX, UTF-16 code units on
// Windows.
std::size_t commandLineLength(const std::string& commandLine);

// Starts `program` with `commandLine`, which begins with commandLineProgram(program), in
// `workingDirectory` (the filter's own if empty). On POSIX the child's argv[0] is `program`
// exactly and the rest of the line is split at spaces and tabs; on Windows the child gets the
// line as it is, all three taken as UTF-8 (WTF-8) and passed on in UTF-16. The child's standard
// input and output are those last installed by setStdHandle; its standard error is the
// filter's. The child leads a process group of its own (POSIX), or joins a job that ends with
// the filter before it runs (Windows). Returns the process handle, or kNoHandle if it could not
// start.
Handle startProcess(const char* program, const char* commandLine, const char* workingDirectory);

// Ends the process at once and unconditionally, with all that it started in its group or job.
// Async-signal-safe on POSIX.
void terminateProcess(Handle process);

// Waits up to `timeoutMs` milliseconds (kNoTimeLimit: no limit) for the process to end.
// Returns true only if it has ended. The process is not reaped, so its id stays ours.
bool waitProcess(Handle process, std::uint32_t timeoutMs);

}  // namespace kestrowan
