#include "filter/relay_io.h"

#include "core/fatal_error.h"
#include "core/messages.h"

namespace kestrowan {

void writeLine(Handle target, Line line, Handle engineProcess) {
    line.text[line.length] = '\n';
    const std::uint32_t size = line.length + 1;
    if (writeHandle(target, line.text, size) != size) {
        fatalError(message::kWriteError, engineProcess);
    }
}

void openReader(LineReader& reader, Handle source, Handle engineProcess) {
    if (!createLineReader(reader, source)) {
        fatalError(message::kNoBuffer, engineProcess);
    }
}

}  // namespace kestrowan
