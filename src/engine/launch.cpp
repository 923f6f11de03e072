#include "engine/launch.h"

#include "core/fatal_error.h"
#include "core/messages.h"
#include "platform/pipe.h"
#include "platform/process.h"

namespace kestrowan {

namespace {

// Each of the engine's pipes holds this much where the system allows: an engine flooding info
// lines writes on while the output relay works through what it read, and reads full buffers; a
// GUI's position commands, some kilobytes each, wait in the input pipe for an engine that is
// busy, rather than in the filter.
constexpr std::uint32_t kEnginePipeSize = 1 << 20;

struct PipeEnds {
    Handle filterEnd;
    Handle childEnd;
    Handle savedStd;
};

// Installs a pipe's child end as the standard stream that the engine will inherit, and keeps
// the filter's end out of the engine: were it inherited, the engine would hold the far end of
// its own pipe and never see the end of its input.
PipeEnds redirectStdToPipe(StdStream stream) {
    PipeEnds ends{};
    ends.savedStd = stdHandle(stream);
    Handle readEnd = kNoHandle;
    Handle writeEnd = kNoHandle;
    const bool output = stream == StdStream::output;
    if (!createPipe(readEnd, writeEnd, kEnginePipeSize)) {
        fatalError(message::kCreatePipe, kNoHandle);
    }
    ends.childEnd = output ? writeEnd : readEnd;
    const Handle inheritableEnd = output ? readEnd : writeEnd;
    if (!setStdHandle(stream, ends.childEnd)) {
        fatalError(message::kRedirect, kNoHandle);
    }
    if (!duplicateUninheritable(inheritableEnd, ends.filterEnd)) {
        fatalError(message::kDuplicate, kNoHandle);
    }
    closeHandle(inheritableEnd);
    return ends;
}

Handle startEngine(int argc, char** argv) {
    std::string commandLine;
    if (!buildCommandLine(argc, argv, commandLine)) {
        fatalError(message::kCommandLineTooLong, kNoHandle);
    }
    const std::string directory = programDirectory(argv[1]);
    const Handle process = startProcess(argv[1], commandLine.c_str(), directory.c_str());
    if (process == kNoHandle) {
        fatalError(message::kStartEngine, kNoHandle);
    }
    return process;
}

}  // namespace

bool buildCommandLine(int argc, char** argv, std::string& commandLine) {
    commandLine.clear();
    std::size_t length = 0;
    for (int i = 1; i < argc; ++i) {
        // Only the path is kept whole: the other arguments go unquoted, so that one holding a
        // space reaches the engine as two words, which GUIs that pass all engine parameters
        // in one field rely on.
        const std::string word = i == 1 ? commandLineProgram(argv[1]) : std::string(argv[i]);
        const std::size_t separator = i > 1 ? 1 : 0;
        length += separator + commandLineLength(word);
        if (length + 1 > kMaxCommandLine) {
            return false;
        }
        if (separator != 0) {
            commandLine += ' ';
        }
        commandLine += word;
    }
    return true;
}

void launchEngine(FilterState& state, int argc, char** argv) {
    const PipeEnds engineOut = redirectStdToPipe(StdStream::output);
    state.engineOutRead = engineOut.filterEnd;
    state.engineOutChildEnd = engineOut.childEnd;
    state.guiOut = engineOut.savedStd;

    const PipeEnds engineIn = redirectStdToPipe(StdStream::input);
    state.engineInWrite = engineIn.filterEnd;
    state.guiIn = engineIn.savedStd;
    // The filter's end is its own (the engine reads from the other), so writes on it may return
    // when the pipe is full, and the command relay reads on meanwhile.
    state.engineInput.direct = setNonBlockingWrites(state.engineInWrite);

    state.engineProcess = startEngine(argc, argv);

    if (!setStdHandle(StdStream::input, state.guiIn) ||
        !setStdHandle(StdStream::output, state.guiOut)) {
        fatalError(message::kRestoreStd, state.engineProcess);
    }
    if (!closeHandle(engineIn.childEnd)) {
        fatalError(message::kCloseChildEnd, state.engineProcess);
    }
}

}  // namespace kestrowan
