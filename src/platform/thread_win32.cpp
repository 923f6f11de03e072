#include <windows.h>

#include <new>

#include "platform/thread.h"

namespace kestrowan {

namespace {

struct ThreadStart {
    ThreadMain main;
    void* argument;
};

DWORD WINAPI threadEntry(LPVOID raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.main(start.argument);
    return 0;
}

}  // namespace

Handle startThread(ThreadMain main, void* argument, std::size_t stackSize) {
    auto* start = new (std::nothrow) ThreadStart{main, argument};
    if (start == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return kNoHandle;
    }
    // Without the flag the size would only be the initial commit and the reserve would stay at
    // the executable's default; the relay needs no more than the size asked for.
    HANDLE thread = CreateThread(nullptr, stackSize, threadEntry, start,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        delete start;
        SetLastError(error);
        return kNoHandle;
    }
    return reinterpret_cast<Handle>(thread);
}

bool startDetachedThread(ThreadMain main, void* argument, std::size_t stackSize) {
    const Handle thread = startThread(main, argument, stackSize);
    if (thread == kNoHandle) {
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

bool joinThread(Handle thread, std::uint32_t timeoutMs) {
    if (thread == kNoHandle) {
        return false;
    }
    if (WaitForSingleObject(reinterpret_cast<HANDLE>(thread), timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

}  // namespace kestrowan
