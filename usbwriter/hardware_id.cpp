#include "hardware_id.h"

#include <cstring>

#include "ascii_case.h"
#include "text_format.h"  // Format

namespace qs71 {

std::string FirstHardwareId(const char* list, size_t length) {
  if (list == nullptr) return std::string();
  const void* end = std::memchr(list, '\0', length);
  const size_t first = end ? static_cast<size_t>(static_cast<const char*>(end) - list) : length;
  return std::string(list, first);
}

bool HardwareIdMatches(const std::string& hardwareId, const std::string& pattern) {
  return AsciiLowerCopy(hardwareId).find(AsciiLowerCopy(pattern)) != std::string::npos;
}

std::string HardwareIdFor(unsigned vendorId, unsigned productId, unsigned release) {
  return Format("HID\\VID_%04X&PID_%04X&REV_%04X", vendorId, productId, release);
}

}  // namespace qs71
