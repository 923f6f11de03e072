#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/process.h"
#include "platform/system.h"
#include "platform/wide_win32.h"

// The filter's own arguments arrive as a Windows program's do: the runtime's start-up code
// expands wildcard patterns in unquoted arguments into the names of matching files. mingw-w64
// does so only when asked.
extern "C" {
int _dowildcard = -1;
}

namespace kestrowan {

namespace {

std::atomic<Handle> processToEnd{kNoHandle};

// Runs on a thread of its own that the system starts for the event. Returning FALSE hands the
// event on to the default handler, which ends the filter.
BOOL WINAPI endProcessFirst(DWORD) {
    terminateProcess(processToEnd.load());
    return FALSE;
}

// The next code point of `text`, or '?' in place of an ill-formed sequence; a surrogate passes as
// a code point of its own. The text ends in a NUL, which ends any sequence.
unsigned long decodeUtf8(const unsigned char*& text) {
    const unsigned char lead = *text++;
    if (lead < 0x80) {
        return lead;
    }
    int trailing = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (trailing == 0 || lead > 0xF4) {
        return '?';
    }
    unsigned long codePoint = lead & (0x3F >> trailing);
    for (; trailing > 0; --trailing) {
        if ((*text & 0xC0) != 0x80) {
            return '?';
        }
        codePoint = (codePoint << 6) | (*text++ & 0x3F);
    }
    return codePoint;
}

}  // namespace

std::int64_t monotonicMs() {
    return static_cast<std::int64_t>(GetTickCount64());
}

long lastErrorCode() {
    return static_cast<long>(GetLastError());
}

void prepareProcess() {
    // Nothing needed here: the error line goes to the handle in Windows' own line ends, so no C
    // stream has to be put in text mode, and the console handler waits for the engine.
}

// Ctrl+C, Ctrl+Break, closing the console window, logoff and shutdown all come through the
// console control handler; an engine left behind would hold on to its console and its memory.
void terminateOnEndRequest(Handle process) {
    processToEnd.store(process);
    SetConsoleCtrlHandler(endProcessFirst, TRUE);
}

// Windows-1252 agrees with Latin-1 from 0xA0 up, which holds every letter the messages use;
// anything outside that range has no place in this encoding and shows as '?'. The line goes
// to the handle, not through the C runtime's stderr: a write abandoned in the runtime would
// keep its stream locked, and the exit flushes every stream.
void writeErrorLine(const char* line, std::uint32_t timeoutMs) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) {
        return;
    }
    // Longer than any line; a longer one would be cut, never overrun.
    char native[1024];
    std::uint32_t length = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(line);
    while (*in != '\0' && length + 2 <= sizeof(native)) {
        const unsigned long codePoint = decodeUtf8(in);
        const bool representable = codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF);
        if (codePoint == '\n') {
            native[length++] = '\r';
        }
        native[length++] = static_cast<char>(representable ? codePoint : '?');
    }
    writeHandleWithin(reinterpret_cast<Handle>(error), native, length, timeoutMs);
}

std::string narrowFromWide(std::wstring_view text) {
    std::string narrow;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned long codePoint = text[i];
        if (codePoint >= 0xD800 && codePoint < 0xDC00 && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        const int trailing = codePoint < 0x80      ? 0
                             : codePoint < 0x800   ? 1
                             : codePoint < 0x10000 ? 2
                                                   : 3;
        // The lead byte: as many high bits set as the sequence has bytes (none for ASCII).
        narrow += static_cast<char>((trailing == 0 ? 0 : 0xFF00 >> (trailing + 1)) |
                                    (codePoint >> (6 * trailing)));
        for (int shift = 6 * (trailing - 1); shift >= 0; shift -= 6) {
            narrow += static_cast<char>(0x80 | ((codePoint >> shift) & 0x3F));
        }
    }
    return narrow;
}

std::wstring wideFromNarrow(const std::string& text) {
    std::wstring wide;
    const auto* in = reinterpret_cast<const unsigned char*>(text.c_str());
    const unsigned char* end = in + text.size();
    while (in < end) {
        const unsigned long codePoint = decodeUtf8(in);
        if (codePoint >= 0x10000) {
            wide += static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(codePoint);
        }
    }
    return wide;
}

// ExitProcess first kills the other threads wherever they stand, then runs every DLL's and the
// runtime's exit handlers; a handler that needs a lock a killed thread held hangs or crashes the
// exit (seen under Wine, which then kills the process outright). The filter has nothing to
// clean up that the system does not: its writes to the GUI go straight to the pipe, and only
// the C streams buffer anything.
void exitProcess(int status) {
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    std::abort();  // not reached: the call does not return for the calling process
}

}  // namespace kestrowan
