// Commands on their way to the engine, however far it has fallen behind.
#pragma once

#include <cstdint>

#include "core/filter_state.h"

namespace kestrowan {

// What may wait here for an engine that reads slowly, beyond what its pipe holds. A GUI that
// sends more than that ahead of the engine is held back, as it would be with no filter between
// them.
inline constexpr std::uint32_t kInputBacklog = 1 << 20;

// Sends bytes to the engine behind everything sent before. Returns at once, unless kInputBacklog
// bytes are already waiting and `mayWait` allows waiting for room.
void sendToEngine(FilterState& state, const char* data, std::uint32_t size, bool mayWait = true);

// Waits up to `timeoutMs` milliseconds (kNoTimeLimit: no limit) until the engine has read all that
// was sent, or has ended. Returns false if the time ran out first.
bool engineTookInput(FilterState& state, std::uint32_t timeoutMs);

// Closes the engine's input, so that it sees its end; not while a write on it is under way.
void closeEngineInput(FilterState& state);

}  // namespace kestrowan
