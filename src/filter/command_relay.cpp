#include "core/fatal_error.h"
#include "filter/protocol.h"
#include "filter/relay.h"
#include "filter/relay_io.h"
#include "platform/process.h"
#include "platform/thread.h"

namespace kestrowan {

namespace {

// How long the output thread gets to notice the quit flag before the filter ends without it.
constexpr std::uint32_t kOutputThreadQuitMs = 300;

void forward(FilterState& state, Line line) {
    writeLine(state.engineInWrite, line, state.engineProcess);
    flushHandle(state.engineInWrite);
}

void startSearch(FilterState& state) {
    state.searching.fetch_add(1);
    const std::int64_t now = nowMs();
    state.currmoveDeadline.store(now + state.timeCurrmove.load());
    state.infoDeadline.store(now + state.timeInfo.load());
}

// "quit": wake the output relay, pass the command on, give the engine TimeQuit to end, then
// give the output thread a moment.
//
// Neither write here is flushed. A flush waits until the reader has taken the bytes: the
// output relay may already have seen the flag in a line it held and ended without reading the
// wake-up, and an engine stuck in a search may not read "quit" for a long time or ever. Either
// wait would keep TimeQuit from starting, and the engine from being ended.
void quit(FilterState& state, Line line) {
    state.quitting.store(1);
    // The output relay blocks in its read; this line feed on the engine's output pipe wakes
    // it to see the quit flag. Nothing depends on the write succeeding. Taking the handle
    // first keeps the engine watcher from closing it under the write; it has no use after.
    const Handle wakeEnd = state.engineOutChildEnd.exchange(kNoHandle);
    if (wakeEnd != kNoHandle) {
        const char lineFeed = '\n';
        writeHandle(wakeEnd, &lineFeed, 1);
        closeHandle(wakeEnd);
    }

    writeLine(state.engineInWrite, line, state.engineProcess);

    // -1, all bits set, means no limit.
    const auto timeQuit = static_cast<std::uint32_t>(state.timeQuit.load());
    if (!waitProcess(state.engineProcess, timeQuit)) {
        terminateProcess(state.engineProcess);
    }
    if (state.outputThread != kNoHandle) {
        joinThread(state.outputThread, kOutputThreadQuitMs);
    }
}

}  // namespace

void runCommandRelay(FilterState& state) {
    LineReader reader;
    openReader(reader, state.guiIn, state.engineProcess);
    for (;;) {
        const Line line = readLine(reader, state.engineProcess);
        OptionSetting setting;
        switch (decideCommand(line.view(), state, setting)) {
            case CommandAction::setOption:
                if (setting.hasValue) {
                    optionField(state, setting.id).store(setting.value);
                }
                break;
            case CommandAction::drop:
                break;
            case CommandAction::startSearch:
                // The windows move before the go leaves: the engine's first info lines may
                // come back before the statement after the write has run.
                startSearch(state);
                forward(state, line);
                break;
            case CommandAction::forward:
                forward(state, line);
                break;
            case CommandAction::quit:
                quit(state, line);
                releaseLineReader(reader);
                return;
        }
    }
}

}  // namespace kestrowan
