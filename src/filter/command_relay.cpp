#include <algorithm>

#include "core/fatal_error.h"
#include "core/messages.h"
#include "filter/protocol.h"
#include "filter/relay.h"
#include "filter/relay_io.h"
#include "platform/process.h"
#include "platform/thread.h"

namespace kestrowan {

namespace {

void forward(FilterState& state, Line line) {
    // No flush: a write on a pipe reaches the engine as it is, and on Windows a flush would wait
    // until the engine had read it all, which an engine deep in a search may not do for long.
    writeLine(state.engineInWrite, line, state.engineProcess);
}

void startSearch(FilterState& state) {
    state.searching.fetch_add(1);
    const std::int64_t now = nowMs();
    state.currmoveDeadline.store(now + state.timeCurrmove.load());
    state.infoDeadline.store(now + state.timeInfo.load());
}

// The milliseconds left of `limitMs` counted from `since`, and `extraMs` more.
std::uint32_t timeLeft(std::int64_t since, std::uint32_t limitMs, std::uint32_t extraMs = 0) {
    if (limitMs == kNoTimeLimit) {
        return kNoTimeLimit;
    }
    const std::int64_t left = since + limitMs + extraMs - nowMs();
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(left, 0, kNoTimeLimit - 1));
}

// The session ends on "quit" (`quitLine`) or at the end of the GUI's input (null). Each step
// is bounded by TimeQuit, counted from here, whatever the GUI and the engine do; the output
// relay goes on meanwhile, so that the answers to everything the GUI sent reach it. Returns the
// milliseconds left for a last word to the GUI.
std::uint32_t endSession(FilterState& state, const Line* quitLine) {
    const std::int64_t since = nowMs();
    // -1, all bits set, means no limit.
    const auto timeQuit = static_cast<std::uint32_t>(state.timeQuit.load());
    state.quitting.store(1);
    // 1. The engine hears of the end as it would without the filter: "quit", or the end of its
    //    own input. An engine that reads nothing cannot hold the write past its time, and one
    //    that has gone needs no "quit".
    if (quitLine != nullptr) {
        quitLine->text[quitLine->length] = '\n';
        writeHandleWithin(state.engineInWrite, quitLine->text, quitLine->length + 1, timeQuit);
    } else {
        closeHandle(state.engineInWrite);
        state.engineInWrite = kNoHandle;
    }
    // 2. It gets TimeQuit to end, and is ended then. Whatever it started goes with it either
    //    way, from the engine watcher.
    if (!waitProcess(state.engineProcess, timeLeft(since, timeQuit))) {
        terminateProcess(state.engineProcess);
    }
    // 3. The output relay passes on the rest of what the engine wrote, as far as the GUI takes it.
    joinThread(state.outputThread, timeLeft(since, timeQuit, kOutputThreadQuitMs));
    return timeLeft(since, timeQuit, kOutputThreadQuitMs);
}

}  // namespace

void runCommandRelay(FilterState& state) {
    LineReader reader;
    openReader(reader, state.guiIn, state.engineProcess);
    for (;;) {
        Line line{};
        if (!readLine(reader, line, state.engineProcess)) {
            // Still the error it always was, told once the engine has had its time to end.
            const std::uint32_t lineMs = endSession(state, nullptr);
            fatalError(0, message::kReadError, state.engineProcess, lineMs);
        }
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
                endSession(state, &line);
                releaseLineReader(reader);
                return;
        }
    }
}

}  // namespace kestrowan
