#include "filter/engine_input.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "core/fatal_error.h"
#include "core/messages.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/thread.h"

namespace kestrowan {

namespace {

// An engine whose input has broken has usually ended, or is ending: how long it is given to show
// which, before a failed write counts as the engine no longer reading.
constexpr std::uint32_t kEngineEndGraceMs = 1000;

// The writer does nothing but wait and write.
constexpr std::size_t kWriterStack = 64 * 1024;

// A write to the engine failed. While the session ends that is no news. An engine that has
// ended without being asked is reported as such an end always is, once the GUI has had
// everything the engine wrote (by the output relay, or by the engine watcher if the GUI reads
// nothing), so that the report is the same in every run: this thread leaves the filter's end to
// them. One that still runs has stopped reading its input, which ends the filter.
void inputFailed(FilterState& state, long code) {
    if (state.quitting.load() != 0) {
        return;
    }
    const bool ended = waitProcess(state.engineProcess, kEngineEndGraceMs);
    // The GUI's quit may have come meanwhile.
    if (state.quitting.load() != 0) {
        return;
    }
    if (ended) {
        waitForProcessEnd();
    }
    fatalError(code, message::kWriteError, state.engineProcess);
}

void writeQueued(void* raw) {
    FilterState& state = *static_cast<FilterState*>(raw);
    EngineInput& input = state.engineInput;
    std::string taken;
    std::unique_lock guard(input.lock);
    for (;;) {
        input.changed.wait(guard, [&] { return !input.queued.empty() || input.closed; });
        if (input.closed) {
            return;
        }
        // The relay fills the emptied string while this one is written.
        taken.swap(input.queued);
        input.writing = true;
        input.changed.notify_all();
        guard.unlock();
        const auto size = static_cast<std::uint32_t>(taken.size());
        const bool whole = writeHandle(state.engineInWrite, taken.data(), size) == size;
        const long code = lastErrorCode();
        taken.clear();
        guard.lock();
        input.writing = false;
        if (!whole) {
            input.failed = true;
            input.failure = code;
        }
        input.changed.notify_all();
        if (!whole) {
            guard.unlock();
            inputFailed(state, code);
            return;
        }
    }
}

// Called with the lock held and bytes queued. Without a thread to write them, the relay writes
// them itself, waiting for room as it did before there was one.
void startWriter(FilterState& state, std::unique_lock<std::mutex>& guard) {
    EngineInput& input = state.engineInput;
    if (!input.writerStarted) {
        input.writerStarted = startDetachedThread(writeQueued, &state, kWriterStack);
    }
    if (input.writerStarted) {
        input.changed.notify_all();
        return;
    }
    std::string bytes;
    bytes.swap(input.queued);
    guard.unlock();
    const auto size = static_cast<std::uint32_t>(bytes.size());
    if (writeHandle(state.engineInWrite, bytes.data(), size) != size) {
        inputFailed(state, lastErrorCode());
    }
}

}  // namespace

void sendToEngine(FilterState& state, const char* data, std::uint32_t size, bool mayWait) {
    EngineInput& input = state.engineInput;
    std::unique_lock guard(input.lock);
    if (input.direct && input.queued.empty() && !input.writing && !input.failed) {
        // Nothing sent before waits, and only this thread queues anything: the pipe is ours.
        guard.unlock();
        const std::int64_t written = writeHandleNow(state.engineInWrite, data, size);
        if (written == size) {
            return;
        }
        const long code = lastErrorCode();
        guard.lock();
        if (written < 0) {
            input.failed = true;
            input.failure = code;
        } else {
            data += written;
            size -= static_cast<std::uint32_t>(written);
        }
    }
    while (mayWait && input.queued.size() >= kInputBacklog && !input.failed) {
        input.changed.wait(guard);
    }
    if (input.failed) {
        const long code = input.failure;
        guard.unlock();
        inputFailed(state, code);
        return;
    }
    try {
        input.queued.append(data, size);
    } catch (const std::bad_alloc&) {
        guard.unlock();
        fatalError(message::kNoMemory, state.engineProcess);
    }
    startWriter(state, guard);
}

bool engineTookInput(FilterState& state, std::uint32_t timeoutMs) {
    EngineInput& input = state.engineInput;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    {
        std::unique_lock guard(input.lock);
        const auto written = [&] {
            return input.failed || (input.queued.empty() && !input.writing);
        };
        if (timeoutMs == kNoTimeLimit) {
            input.changed.wait(guard, written);
        } else if (!input.changed.wait_until(guard, deadline, written)) {
            return false;
        }
        if (input.failed) {
            return true;  // nothing more can be taken
        }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return waitPipeTaken(state.engineInWrite, state.engineProcess,
                         timeoutMs == kNoTimeLimit
                             ? kNoTimeLimit
                             : static_cast<std::uint32_t>(std::max<std::int64_t>(left.count(), 0)));
}

void closeEngineInput(FilterState& state) {
    EngineInput& input = state.engineInput;
    std::lock_guard guard(input.lock);
    // Closed under a write, the handle's number could pass to another file before the write
    // ends. An engine that is still being written to is one that is being ended anyway.
    if (input.writing || input.closed) {
        return;
    }
    input.closed = true;
    input.queued.clear();
    closeHandle(state.engineInWrite);
    input.changed.notify_all();
}

}  // namespace kestrowan
