#include "core/filter_state.h"

namespace kestrowan {

std::atomic<std::int32_t>& optionField(FilterState& state, OptionId id) {
    switch (id) {
        case OptionId::timeCurrmove:
            return state.timeCurrmove;
        case OptionId::timeInfo:
            return state.timeInfo;
        case OptionId::timeQuit:
            return state.timeQuit;
        case OptionId::removeNonUci:
            return state.removeNonUci;
        case OptionId::removeStop:
            break;
    }
    return state.removeStop;
}

}  // namespace kestrowan
