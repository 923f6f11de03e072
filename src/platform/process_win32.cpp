#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/process.h"

namespace kestrowan {

std::string programDirectory(const char* programPath) {
    char drive[_MAX_DRIVE];
    char directory[_MAX_DIR];
    _splitpath(programPath, drive, directory, nullptr, nullptr);
    return std::string(drive) + directory;
}

namespace {

// Every engine joins one job that ends its processes when its last handle closes, which is
// when this process ends, however it ends: a GUI that kills the filter outright kills the
// engine with it. The handle is never closed on purpose.
void joinKillOnCloseJob(HANDLE process) {
    static HANDLE job = [] {
        HANDLE created = CreateJobObjectA(nullptr, nullptr);
        if (created != nullptr) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                    sizeof(limits));
        }
        return created;
    }();
    // Without a job the engine still ends with every exit the filter takes itself.
    if (job != nullptr) {
        AssignProcessToJobObject(job, process);
    }
}

}  // namespace

Handle startProcess(const char* program, const char* commandLine, const char* workingDirectory) {
    // CreateProcessA may write into the command line, so it gets a copy of its own.
    std::vector<char> line(commandLine, commandLine + std::strlen(commandLine) + 1);
    // No STARTF_USESTDHANDLES: the child takes the standard handles installed by setStdHandle,
    // and its standard error is ours.
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        workingDirectory[0] != '\0' ? workingDirectory : nullptr, &startup,
                        &info)) {
        return kNoHandle;
    }
    CloseHandle(info.hThread);
    joinKillOnCloseJob(info.hProcess);
    return reinterpret_cast<Handle>(info.hProcess);
}

void terminateProcess(Handle process) {
    // kNoHandle doubles as the pseudo-handle of this process: never end ourselves by mistake.
    if (process == kNoHandle) {
        return;
    }
    TerminateProcess(reinterpret_cast<HANDLE>(process), 0);
}

bool waitProcess(Handle process, std::uint32_t timeoutMs) {
    // kNoHandle is also the pseudo-handle of this very process, which would never end.
    if (process == kNoHandle) {
        return false;
    }
    static_assert(INFINITE == UINT32_MAX);
    return WaitForSingleObject(reinterpret_cast<HANDLE>(process), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace kestrowan
