// The record that the driver and the two relays share, and the filter's option table.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "io/line_reader.h"
#include "platform/handle.h"

namespace kestrowan {

// A line that no engine writes by chance: the output relay knows by it that everything the engine
// wrote before it ended has been read, even while a process the engine started still holds the
// pipe open, so that its end never comes.
struct EndMarker {
    char text[40] = {};
    std::uint32_t length = 0;
};

// What the GUI sent that the engine has yet to be given. The command relay writes straight into
// the engine's pipe while it has room; what does not fit waits here for a writer thread, so that
// the relay goes on reading the GUI and sees "quit" or the end of its input however far the
// engine has fallen behind. Shared by the command relay and the writer, under `lock`.
struct EngineInput {
    std::mutex lock;
    std::condition_variable changed;
    std::string queued;    // for the writer, in the order sent
    bool writing = false;  // the writer is in a write of bytes it took from `queued`
    bool writerStarted = false;
    // A write failed, with this error code: nothing more reaches the engine.
    bool failed = false;
    long failure = 0;
    bool closed = false;
    // Set before the relays start: writes may be tried without waiting (setNonBlockingWrites).
    bool direct = false;
};

// The handles are set by the driver before the output thread starts and never change after;
// every field that the two relays share is atomic, as the record has no lock.
struct FilterState {
    Handle engineOutRead = kNoHandle;
    // Written to by the command relay and the engine input's writer, never by both at once.
    Handle engineInWrite = kNoHandle;
    Handle guiIn = kNoHandle;
    Handle guiOut = kNoHandle;
    // Taken (swapped for kNoHandle) by whoever closes it: the quit sequence after its wake-up
    // write, the engine watcher once the engine has ended, or the driver at the end.
    std::atomic<Handle> engineOutChildEnd{kNoHandle};
    Handle engineProcess = kNoHandle;
    Handle outputThread = kNoHandle;
    // The output thread's reader, opened by the driver before the thread starts: a thread's
    // first allocation makes the C library set up a heap of its own, several memory-map calls
    // that would delay the engine's first answer.
    LineReader engineOutput;
    // Searches started by "go" and not yet answered by "bestmove". A count, not a flag: the
    // answer to one search often arrives after the next "go" has gone out.
    std::atomic<std::int32_t> searching{0};
    // The session is ending: the GUI sent "quit" or closed its input. The output relay still
    // passes on what the engine writes, but a GUI that has stopped reading is no error any more.
    std::atomic<std::int32_t> quitting{0};
    // Set by the engine watcher once the engine has ended and the end marker below is final; the
    // marker then follows the engine's last byte in its output pipe.
    std::atomic<std::int32_t> engineEnded{0};
    EndMarker endMarker;
    EngineInput engineInput;
    std::atomic<std::int64_t> currmoveDeadline{0};
    std::atomic<std::int64_t> infoDeadline{0};
    std::atomic<std::int32_t> timeCurrmove{1500};
    std::atomic<std::int32_t> timeInfo{300};
    std::atomic<std::int32_t> timeQuit{1000};
    std::atomic<std::int32_t> removeNonUci{1};
    std::atomic<std::int32_t> removeStop{1};
};

// How long the output thread gets, once the engine's time is up, to pass on what it wrote.
inline constexpr std::uint32_t kOutputThreadQuitMs = 300;

enum class OptionId { timeCurrmove, timeInfo, timeQuit, removeNonUci, removeStop };

struct FilterOption {
    OptionId id;
    std::string_view announcement;
};

// In the order in which the GUI sees them, just before each "uciok".
inline constexpr std::array<FilterOption, 5> kOptions = {{
    {OptionId::timeCurrmove,
     "option name TimeCurrmove@Kestrowan type spin default 1500 min 0 max 5000\n"},
    {OptionId::timeInfo, "option name TimeInfo@Kestrowan type spin default 300 min 0 max 5000\n"},
    {OptionId::timeQuit,
     "option name TimeQuit@Kestrowan type spin default 1000 min 200 max 1800\n"},
    {OptionId::removeNonUci, "option name RemoveNonUci@Kestrowan type check default true\n"},
    {OptionId::removeStop, "option name RemoveStop@Kestrowan type check default true\n"},
}};

std::atomic<std::int32_t>& optionField(FilterState& state, OptionId id);

}  // namespace kestrowan
