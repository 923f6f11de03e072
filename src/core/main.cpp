#include "core/fatal_error.h"
#include "core/filter_state.h"
#include "core/messages.h"
#include "engine/launch.h"
#include "engine/watcher.h"
#include "filter/relay.h"
#include "platform/system.h"
#include "platform/thread.h"

namespace {
constexpr std::size_t kOutputThreadStack = 256000;
constexpr std::size_t kWatcherStack = 65536;
}  // namespace

int main(int argc, char** argv) {
    using namespace kestrowan;
    prepareProcess();
    if (argc < 2) {
        fatalError(message::kNoEngine, kNoHandle);
    }
    FilterState state;
    launchEngine(state, argc, argv);
    terminateOnEndRequest(state.engineProcess);
    // Without either thread the GUI would never hear from the engine, or never hear that it
    // has gone.
    state.outputThread = startThread(outputThreadMain, &state, kOutputThreadStack);
    if (state.outputThread == kNoHandle) {
        fatalError(message::kStartOutputThread, state.engineProcess);
    }
    // The watcher may end at any point, the error exit included; nothing waits for it.
    const Handle watcher = startThread(watchEngine, &state, kWatcherStack);
    if (watcher == kNoHandle) {
        fatalError(message::kStartOutputThread, state.engineProcess);
    }
    detachThread(watcher);
    runCommandRelay(state);
    const Handle childEnd = state.engineOutChildEnd.exchange(kNoHandle);
    if (childEnd != kNoHandle) {
        closeHandle(childEnd);
    }
    closeHandle(state.engineOutRead);
    closeHandle(state.engineInWrite);
    finishProcess();
}
