#include "filter/relay_io.h"

#include "core/fatal_error.h"
#include "core/messages.h"

namespace kestrowan {

void openReader(LineReader& reader, Handle source, Handle engineProcess) {
    if (!createLineReader(reader, source)) {
        fatalError(message::kNoBuffer, engineProcess);
    }
}

}  // namespace kestrowan
