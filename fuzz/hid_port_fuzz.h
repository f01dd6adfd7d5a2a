#pragma once

#include <cstddef>
#include <cstdint>

namespace qs71 {

// The replies the fuzzed programmer gives, 64 bytes each, in order.
void SetFuzzReplies(const uint8_t* data, size_t size);

}  // namespace qs71
