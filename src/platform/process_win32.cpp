#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
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

// The handles a started process inherits, and no others. Without a list it would inherit
// every inheritable handle of the filter, the GUI's ends of the filter's own standard streams
// among them, and an engine left outside the job (a system without nested jobs) would keep
// the GUI from seeing the filter's end.
struct InheritedHandles {
    HANDLE listed[3] = {};
    DWORD count = 0;
    HANDLE duplicates[3] = {};  // made here, closed once the process has been created
    DWORD duplicateCount = 0;
    std::unique_ptr<char[]> storage;
    LPPROC_THREAD_ATTRIBUTE_LIST attributes = nullptr;
};

// The handle to give the process for one standard stream: `handle` itself, or an inheritable
// duplicate of it. Null where `handle` is no valid handle.
HANDLE inheritHandle(InheritedHandles& inherited, HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // A console handle before Windows 8 is a pseudo-handle with the two low bits set. A list
    // that holds one makes the start fail, and the process reaches the console without
    // inheriting it.
    if ((reinterpret_cast<std::uintptr_t>(handle) & 3) == 3) {
        return handle;
    }
    DWORD flags = 0;
    if (!GetHandleInformation(handle, &flags)) {
        return nullptr;
    }
    if ((flags & HANDLE_FLAG_INHERIT) == 0) {
        HANDLE self = GetCurrentProcess();
        HANDLE duplicate = nullptr;
        if (!DuplicateHandle(self, handle, self, &duplicate, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
            return nullptr;
        }
        inherited.duplicates[inherited.duplicateCount++] = duplicate;
        handle = duplicate;
    }
    // A handle may stand for two streams, but a list must name it once.
    HANDLE* end = inherited.listed + inherited.count;
    if (std::find(inherited.listed, end, handle) == end) {
        inherited.listed[inherited.count++] = handle;
    }
    return handle;
}

// Puts the list in `startup`. False, with the error code set, if it cannot be made.
bool attachHandleList(InheritedHandles& inherited, STARTUPINFOEXW& startup) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    inherited.storage.reset(new (std::nothrow) char[size]);
    if (inherited.storage == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(inherited.storage.get());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
        return false;
    }
    inherited.attributes = attributes;
    startup.lpAttributeList = attributes;
    return UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                     inherited.listed, inherited.count * sizeof(HANDLE), nullptr,
                                     nullptr) != 0;
}

// Closes what was made for the start, with the last error code kept for the caller.
void releaseInheritedHandles(InheritedHandles& inherited) {
    const DWORD error = GetLastError();
    if (inherited.attributes != nullptr) {
        DeleteProcThreadAttributeList(inherited.attributes);
    }
    for (DWORD i = 0; i < inherited.duplicateCount; ++i) {
        CloseHandle(inherited.duplicates[i]);
    }
    SetLastError(error);
}

}  // namespace

Handle startProcess(const char* program, const char* commandLine, const char* workingDirectory) {
    // The wide call takes any name in any script; the command line is a string of its own,
    // which CreateProcessW may write into.
    const std::wstring path = wideFromNarrow(program);
    std::wstring line = wideFromNarrow(commandLine);
    const std::wstring directory = wideFromNarrow(workingDirectory);
    // The standard input and output installed by setStdHandle, and our standard error.
    InheritedHandles inherited;
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = inheritHandle(inherited, GetStdHandle(STD_INPUT_HANDLE));
    startup.StartupInfo.hStdOutput = inheritHandle(inherited, GetStdHandle(STD_OUTPUT_HANDLE));
    startup.StartupInfo.hStdError = inheritHandle(inherited, GetStdHandle(STD_ERROR_HANDLE));
    const bool inherit = inherited.count > 0;
    PROCESS_INFORMATION info{};
    // Suspended until it has joined the job: an engine that starts a process of its own at once
    // would otherwise start it outside. Where it cannot join (a system without nested jobs, the
    // filter in a GUI's job), it runs all the same, and the filter ends it on every exit it takes.
    const DWORD flags = CREATE_SUSPENDED | (inherit ? EXTENDED_STARTUPINFO_PRESENT : 0);
    const bool created = (!inherit || attachHandleList(inherited, startup)) &&
                         CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, inherit, flags,
                                        nullptr, directory.empty() ? nullptr : directory.c_str(),
                                        &startup.StartupInfo, &info);
    releaseInheritedHandles(inherited);
    if (!created) {
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
    static_assert(INFINITE == kNoTimeLimit);
    return WaitForSingleObject(reinterpret_cast<HANDLE>(process), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace kestrowan
