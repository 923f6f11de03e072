#include <windows.h>

#include "platform/pipe.h"
#include "platform/thread.h"

namespace kestrowan {

bool createPipe(Handle& readEnd, Handle& writeEnd, std::uint32_t size) {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &attributes, size)) {
        return false;
    }
    readEnd = reinterpret_cast<Handle>(read);
    writeEnd = reinterpret_cast<Handle>(write);
    return true;
}

bool duplicateUninheritable(Handle handle, Handle& copy) {
    HANDLE self = GetCurrentProcess();
    HANDLE duplicate = nullptr;
    if (!DuplicateHandle(self, reinterpret_cast<HANDLE>(handle), self, &duplicate, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    copy = reinterpret_cast<Handle>(duplicate);
    return true;
}

namespace {

void flushPipe(void* writeEnd) {
    FlushFileBuffers(static_cast<HANDLE>(writeEnd));
}

}  // namespace

// On a pipe, a flush returns once the reader has taken everything written, or once there is no
// reader. It cannot be given a time limit, so it runs on a thread of its own, which is let go
// rather than broken off when the time is up.
bool waitPipeTaken(Handle writeEnd, Handle process, std::uint32_t timeoutMs) {
    const Handle flusher = startThread(flushPipe, reinterpret_cast<void*>(writeEnd), 64 * 1024);
    if (flusher == kNoHandle) {
        // Nothing can tell when the reader has taken it all: the process's end is what is left.
        return WaitForSingleObject(reinterpret_cast<HANDLE>(process), timeoutMs) == WAIT_OBJECT_0;
    }
    const HANDLE either[2] = {reinterpret_cast<HANDLE>(flusher), reinterpret_cast<HANDLE>(process)};
    const DWORD first = WaitForMultipleObjects(2, either, FALSE, timeoutMs);
    // A flush still waiting returns once the reader has gone, as the engine's end makes it go.
    CloseHandle(either[0]);
    return first == WAIT_OBJECT_0 || first == WAIT_OBJECT_0 + 1;
}

}  // namespace kestrowan
