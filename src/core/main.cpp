#include "core/fatal_error.h"
#include "core/filter_state.h"
#include "core/messages.h"
#include "engine/launch.h"
#include "filter/relay.h"
#include "platform/system.h"
#include "platform/thread.h"

namespace {
constexpr std::size_t kOutputThreadStack = 256000;
}

int main(int argc, char** argv) {
    using namespace kestrowan;
    prepareProcess();
    if (argc < 2) {
        fatalError(message::kNoEngine, kNoHandle);
    }
    FilterState state;
    launchEngine(state, argc, argv);
    terminateOnEndRequest(state.engineProcess);
    state.outputThread = startThread(outputThreadMain, &state, kOutputThreadStack);
    if (state.outputThread == kNoHandle) {
        // Without it the GUI would never hear from the engine.
        fatalError(message::kStartOutputThread, state.engineProcess);
    }
    runCommandRelay(state);
    closeHandle(state.engineOutChildEnd);
    closeHandle(state.engineOutRead);
    closeHandle(state.engineInWrite);
    finishProcess();
}
