// Stand-ins for the platform and the error exit, so that fuzz targets can drive the line
// reader with input cut into chunks of the fuzzer's choosing.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrowan::fuzz {

// Each read returns at most the next chunk size's worth of `data` (and never more than asked).
void scriptInput(std::string_view data, std::vector<std::uint32_t> chunkSizes);

}  // namespace kestrowan::fuzz
