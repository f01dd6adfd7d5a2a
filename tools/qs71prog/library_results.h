#pragma once

#include <cstdint>

namespace qs71prog {

// A short explanation of a Qs71UsbWriter result code for the summary line; the library's
// own message above it says the same in its words.
const char* DescribeLibraryResult(int32_t result);

}  // namespace qs71prog
