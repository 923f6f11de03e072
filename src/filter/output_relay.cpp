#include "core/fatal_error.h"
#include "core/messages.h"
#include "filter/protocol.h"
#include "filter/relay.h"
#include "platform/handle.h"

namespace kestrowan {

namespace {

// Lines that one read brought in leave together in one gathering write, the option
// announcements before "uciok" included: the GUI wakes once for an answer, not once a line.
// They stay in the reader's buffer until written, and are written before the reader next
// blocks or moves data. A full first buffer of info lines that each lost a CR holds some 600
// spans; 1024, the most one gathering write takes on Linux, lets such a read leave in one write.
constexpr std::uint32_t kMaxBatch = 1024;

struct OutputBatch {
    ByteSpan lines[kMaxBatch];
    std::uint32_t count = 0;
    std::uint32_t bytes = 0;
    // The GUI has stopped reading while the session ends; what the engine still writes is read
    // and let go, so that the engine is not held in a write while it finishes.
    bool guiGone = false;
};

void writeBatch(const FilterState& state, OutputBatch& batch) {
    if (batch.count == 0) {
        return;
    }
    if (!batch.guiGone && writeHandleSpans(state.guiOut, batch.lines, batch.count) != batch.bytes) {
        // A GUI that closes its end after "quit" or after its own end of input is done with us.
        batch.guiGone = state.quitting.load() != 0;
        if (!batch.guiGone) {
            fatalError(message::kWriteError, state.engineProcess);
        }
    }
    batch.count = 0;
    batch.bytes = 0;
}

void addToBatch(const FilterState& state, OutputBatch& batch, const char* data,
                std::uint32_t size) {
    // A line that lost no trailing white space ends where the next one starts, so a run of
    // them is already in place as one block and leaves as one span. Only a line that starts
    // exactly at the end of the last span may join it: a trimmed tail or a dropped line
    // between them is a gap of bytes that must not reach the GUI.
    ByteSpan* last = batch.count > 0 ? &batch.lines[batch.count - 1] : nullptr;
    if (last != nullptr && last->data + last->size == data) {
        last->size += size;
    } else {
        batch.lines[batch.count++] = ByteSpan{data, size};
    }
    batch.bytes += size;
    // Bounded by count and size: a batch never holds more than one buffer's worth of data.
    if (batch.count == kMaxBatch || batch.bytes >= kReaderCapacity) {
        writeBatch(state, batch);
    }
}

void addLine(const FilterState& state, OutputBatch& batch, Line line) {
    line.text[line.length] = '\n';
    addToBatch(state, batch, line.text, line.length + 1);
}

void announceOptions(const FilterState& state, OutputBatch& batch) {
    for (const FilterOption& option : kOptions) {
        addToBatch(state, batch, option.announcement.data(),
                   static_cast<std::uint32_t>(option.announcement.size()));
    }
}

// While a search runs the GUI gets its info lines in bulk; outside one, each batch is flushed.
void flushBatch(const FilterState& state, OutputBatch& batch) {
    writeBatch(state, batch);
    if (state.searching.load() == 0 && !batch.guiGone) {
        flushHandle(state.guiOut);
    }
}

// The clock never steps back, so once a reading has passed both deadlines every later one has
// too: until the next "go" moves them, a flood of info lines needs no further clock reading.
std::int64_t timeForDecision(const FilterState& state, std::int64_t& lastNow) {
    if (lastNow < state.currmoveDeadline.load() || lastNow < state.infoDeadline.load()) {
        lastNow = nowMs();
    }
    return lastNow;
}

void endSearch(FilterState& state) {
    std::int32_t searches = state.searching.load();
    while (searches > 0 && !state.searching.compare_exchange_weak(searches, searches - 1)) {
    }
}

// Only the watcher's marker ends a line with these bytes. A part line that the engine left
// without its line feed sits in front of the marker, and goes with it, as at the pipe's end.
bool isEndMarker(const FilterState& state, Line line) {
    if (state.engineEnded.load() == 0) {
        return false;
    }
    const EndMarker& marker = state.endMarker;
    return line.view().ends_with(std::string_view(marker.text, marker.length));
}

// Everything that the engine wrote has been read and passed on. While the session ends, that is
// what the relay waited for; before, the engine has ended without being asked, and the GUI
// hears of it as it would hear of the end of the engine's output without the filter.
int endOfEngineOutput(FilterState& state, OutputBatch& batch) {
    flushBatch(state, batch);
    if (state.quitting.load() == 0) {
        fatalError(0, message::kReadError, state.engineProcess);
    }
    releaseLineReader(state.engineOutput);
    return 0;
}

}  // namespace

int runOutputRelay(FilterState& state) {
    LineReader& reader = state.engineOutput;
    OutputBatch batch;
    // Both deadlines start at 0, where every clock reading is above: lines before the first
    // "go" need no reading, and the engine's first answer goes out without the clock's first
    // use in the process, which faults in the clock's pages.
    std::int64_t lastNow = 0;
    for (;;) {
        Line line{};
        if (!takeHeldLine(reader, line)) {
            flushBatch(state, batch);
            if (!readLine(reader, line, state.engineProcess)) {
                return endOfEngineOutput(state, batch);
            }
        }
        if (isEndMarker(state, line)) {
            return endOfEngineOutput(state, batch);
        }
        switch (decideOutput(line.view(), state, timeForDecision(state, lastNow))) {
            case OutputAction::drop:
                continue;
            case OutputAction::announceOptions:
                announceOptions(state, batch);
                break;
            case OutputAction::endSearch:
                endSearch(state);
                break;
            case OutputAction::forward:
                break;
        }
        addLine(state, batch, line);
    }
}

void outputThreadMain(void* state) {
    runOutputRelay(*static_cast<FilterState*>(state));
}

}  // namespace kestrowan
