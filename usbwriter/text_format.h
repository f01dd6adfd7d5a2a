#pragma once

#include <string>

namespace qs71 {

// The programmer's messages are printf formats; hosts and tests compare them byte for byte,
// so they are rendered by the C formatter rather than by streams.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Format(const char* format, ...);

}  // namespace qs71
