#include <windows.h>

#include "platform/pipe.h"

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

}  // namespace kestrowan
