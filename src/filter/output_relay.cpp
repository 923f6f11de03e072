#include "core/fatal_error.h"
#include "filter/protocol.h"
#include "filter/relay.h"
#include "filter/relay_io.h"

namespace kestrowan {

namespace {

void announceOptions(Handle guiOut) {
    for (const OptionSpec& option : kOptions) {
        // A GUI that cannot take these will fail on the "uciok" that follows, reported there.
        writeHandle(guiOut, option.announcement.data(),
                    static_cast<std::uint32_t>(option.announcement.size()));
    }
}

void endSearch(FilterState& state) {
    std::int32_t searches = state.searching.load();
    while (searches > 0 && !state.searching.compare_exchange_weak(searches, searches - 1)) {
    }
}

}  // namespace

int runOutputRelay(FilterState& state) {
    LineReader reader;
    openReader(reader, state.engineOutRead, state.engineProcess);
    for (;;) {
        const Line line = readLine(reader, state.engineProcess);
        if (state.quitting.load() != 0) {
            releaseLineReader(reader);
            return 0;
        }
        switch (decideOutput(line.view(), state, nowMs())) {
            case OutputAction::drop:
                continue;
            case OutputAction::announceOptions:
                announceOptions(state.guiOut);
                break;
            case OutputAction::endSearch:
                endSearch(state);
                break;
            case OutputAction::forward:
                break;
        }
        writeLine(state.guiOut, line, state.engineProcess);
        // While a search runs the GUI gets its info lines in bulk; outside one, at once.
        if (state.searching.load() == 0) {
            flushHandle(state.guiOut);
        }
    }
}

void outputThreadMain(void* state) {
    runOutputRelay(*static_cast<FilterState*>(state));
}

}  // namespace kestrowan
