#include "engine/watcher.h"

#include <cstdint>

#include "platform/process.h"

namespace kestrowan {

void watchEngine(void* raw) {
    FilterState& state = *static_cast<FilterState*>(raw);
    constexpr auto kNoLimit = UINT32_MAX;
    if (!waitProcess(state.engineProcess, kNoLimit)) {
        return;  // no news about the engine; the relays still notice its end on their own
    }
    const Handle childEnd = state.engineOutChildEnd.exchange(kNoHandle);
    if (childEnd != kNoHandle) {
        closeHandle(childEnd);
    }
}

}  // namespace kestrowan
