#include <algorithm>

#include "core/fatal_error.h"
#include "core/messages.h"
#include "filter/engine_input.h"
#include "filter/protocol.h"
#include "filter/relay.h"
#include "filter/relay_io.h"
#include "platform/process.h"
#include "platform/thread.h"

namespace kestrowan {

namespace {

// What the last word to the GUI, an error line at the end of its input, may always take of the
// ending's time, however long the engine and the output relay took: enough to write a line to a
// pipe with room, with a thread to start for the write.
constexpr std::uint32_t kLastWordMs = 100;

void forward(FilterState& state, Line line, bool mayWait = true) {
    // No flush: a write on a pipe reaches the engine as it is, and on Windows a flush would wait
    // until the engine had read it all, which an engine deep in a search may not do for long.
    line.text[line.length] = '\n';
    sendToEngine(state, line.text, line.length + 1, mayWait);
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

// The session ends on "quit" (`quitLine`) or at the end of the GUI's input (null). Every step
// is bounded, whatever the GUI and the engine do, and the output relay goes on meanwhile, so that
// the answers to everything the GUI sent reach it. The engine's TimeQuit runs from the moment it
// has read all it was sent: a script hands "quit" over long before a slow engine reads it.
// Returns the milliseconds left for a last word to the GUI.
std::uint32_t endSession(FilterState& state, Line* quitLine) {
    const std::int64_t since = nowMs();
    // -1, all bits set, means no limit.
    const auto timeQuit = static_cast<std::uint32_t>(state.timeQuit.load());
    state.quitting.store(1);
    // 1. The engine hears of the end as it would without the filter: "quit", behind all it has
    //    yet to read, and then the end of its input. An engine that has gone needs neither.
    if (quitLine != nullptr) {
        forward(state, *quitLine, false);
    }
    // 2. An engine that has not read all of it within TimeQuit is hung.
    const bool taken = engineTookInput(state, timeLeft(since, timeQuit));
    const std::int64_t from = taken ? nowMs() : since;
    // A hung engine is ended next; its input, which a write or a wait may still be on, is left
    // to that.
    if (taken) {
        closeEngineInput(state);
    }
    // 3. It gets TimeQuit from then on to end, and is ended then. Whatever it started goes with
    //    it either way, from the engine watcher.
    if (!waitProcess(state.engineProcess, timeLeft(from, timeQuit))) {
        terminateProcess(state.engineProcess);
    }
    // 4. The output relay passes on the rest of what the engine wrote, as far as the GUI takes it.
    joinThread(state.outputThread, timeLeft(from, timeQuit, kOutputThreadQuitMs - kLastWordMs));
    return std::max(timeLeft(from, timeQuit, kOutputThreadQuitMs), kLastWordMs);
}

}  // namespace

void runCommandRelay(FilterState& state) {
    LineReader reader;
    openReader(reader, state.guiIn, state.engineProcess);
    for (;;) {
        // A script's last command often has no line feed; it counts all the same.
        Line line{};
        if (!readLine(reader, line, state.engineProcess) && !takeLastLine(reader, line)) {
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
