#include <windows.h>

#include <string>
#include <string_view>

#include "platform/process.h"
#include "platform/wide_win32.h"

namespace kestrowan {

// Everything up to the last separator, or the drive alone ("C:engine.exe"). ASCII bytes never
// occur inside a multi-byte sequence, so the split works on UTF-8 as it is.
std::string programDirectory(const char* programPath) {
    const std::string_view path = programPath;
    const std::size_t separator = path.find_last_of("/\\");
    if (separator != std::string_view::npos) {
        return std::string(path.substr(0, separator + 1));
    }
    return std::string(path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : "");
}

std::size_t commandLineLength(const std::string& commandLine) {
    return wideFromNarrow(commandLine).size();
}

namespace {

// Every engine joins one job that ends its processes when its last handle closes, which is
// when this process ends, however it ends: a GUI that kills the filter outright kills the
// engine with it, and all it started. Null where no job could be made. The handle is never
// closed on purpose.
HANDLE engineJob() {
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectA(nullptr, nullptr);
        if (created != nullptr) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                    sizeof(limits));
        }
        return created;
    }();
    return job;
}

}  // namespace

Handle startProcess(const char* program, const char* commandLine, const char* workingDirectory) {
    // The wide call takes any name in any script; the command line is a string of its own,
    // which CreateProcessW may write into.
    const std::wstring path = wideFromNarrow(program);
    std::wstring line = wideFromNarrow(commandLine);
    const std::wstring directory = wideFromNarrow(workingDirectory);
    // No STARTF_USESTDHANDLES: the child takes the standard handles installed by setStdHandle,
    // and its standard error is ours.
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // Suspended until it has joined the job: an engine that starts a process of its own at once
    // would otherwise start it outside. Where it cannot join (a system without nested jobs, the
    // filter in a GUI's job), it runs all the same, and the filter ends it on every exit it takes.
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                        nullptr, directory.empty() ? nullptr : directory.c_str(), &startup,
                        &info)) {
        return kNoHandle;
    }
    if (engineJob() != nullptr) {
        AssignProcessToJobObject(engineJob(), info.hProcess);
    }
    const bool resumed = ResumeThread(info.hThread) != static_cast<DWORD>(-1);
    CloseHandle(info.hThread);
    if (!resumed) {
        const DWORD error = GetLastError();
        TerminateProcess(info.hProcess, 0);
        CloseHandle(info.hProcess);
        SetLastError(error);
        return kNoHandle;
    }
    return reinterpret_cast<Handle>(info.hProcess);
}

void terminateProcess(Handle process) {
    // kNoHandle doubles as the pseudo-handle of this process: never end ourselves by mistake.
    if (process == kNoHandle) {
        return;
    }
    TerminateProcess(reinterpret_cast<HANDLE>(process), 0);
    // The job holds whatever the engine started, and nothing else; it is empty where the engine
    // could not join it.
    if (engineJob() != nullptr) {
        TerminateJobObject(engineJob(), 0);
    }
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
