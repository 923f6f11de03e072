#include <cstdio>
#include <string_view>

#include "core/fatal_error.h"
#include "core/filter_state.h"
#include "core/main.h"
#include "core/messages.h"
#include "engine/launch.h"
#include "engine/watcher.h"
#include "filter/relay.h"
#include "filter/relay_io.h"
#include "platform/system.h"
#include "platform/thread.h"

namespace {
constexpr std::size_t kOutputThreadStack = 256000;
constexpr std::size_t kWatcherStack = 65536;

constexpr const char* kUsage =
    "Usage: kestrowan ENGINE [ENGINE-ARGUMENT...]\n"
    "       kestrowan --help | --version\n"
    "Starts the UCI chess engine ENGINE behind two pipes and relays the lines between it and\n"
    "the chess GUI on standard input and output. The GUI sets the filter's own options,\n"
    "TimeCurrmove, TimeInfo, TimeQuit, RemoveNonUci and RemoveStop (each with the suffix\n"
    "@Kestrowan), like any engine option. ENGINE may hold spaces; the engine arguments are\n"
    "joined with single spaces and split again at blanks.\n";
constexpr const char* kVersion = "kestrowan " KESTROWAN_VERSION "\n";

// No engine can be named "--help" or "--version", and every command-line tool answers these.
// Anywhere but alone they are engine arguments like any other.
bool answeredInfoRequest(int argc, char** argv) {
    if (argc != 2) {
        return false;
    }
    const std::string_view argument = argv[1];
    const char* answer = argument == "--help"      ? kUsage
                         : argument == "--version" ? kVersion
                                                   : nullptr;
    if (answer == nullptr) {
        return false;
    }
    std::fputs(answer, stdout);
    return true;
}
}  // namespace

namespace kestrowan {

int runFilter(int argc, char** argv) {
    prepareProcess();
    if (answeredInfoRequest(argc, argv)) {
        return 0;
    }
    if (argc < 2) {
        fatalError(message::kNoEngine, kNoHandle);
    }
    FilterState state;
    launchEngine(state, argc, argv);
    terminateOnEndRequest(state.engineProcess);
    openReader(state.engineOutput, state.engineOutRead, state.engineProcess);
    // Without either thread the GUI would never hear from the engine, or never hear that it
    // has gone.
    state.outputThread = startThread(outputThreadMain, &state, kOutputThreadStack);
    if (state.outputThread == kNoHandle) {
        fatalError(message::kStartOutputThread, state.engineProcess);
    }
    // The watcher may end at any point, the error exit included; nothing waits for it.
    if (!startDetachedThread(watchEngine, &state, kWatcherStack)) {
        fatalError(message::kStartOutputThread, state.engineProcess);
    }
    runCommandRelay(state);
    // The pipe ends are left to the system, which closes them as the process ends: the output
    // thread may still be in a write to a GUI that does not read, on a handle closed under it.
    finishProcess();
}

}  // namespace kestrowan
