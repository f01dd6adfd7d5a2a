#include "hardware_id.h"

#include <cctype>
#include <cstring>

#include "text_format.h"  // Format

namespace qs71 {

namespace {

std::string Lowered(const std::string& text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

}  // namespace

std::string FirstHardwareId(const char* list, size_t length) {
  if (list == nullptr) return std::string();
  const void* end = std::memchr(list, '\0', length);
  const size_t first = end ? static_cast<size_t>(static_cast<const char*>(end) - list) : length;
  return std::string(list, first);
}

bool HardwareIdMatches(const std::string& hardwareId, const std::string& pattern) {
  return Lowered(hardwareId).find(Lowered(pattern)) != std::string::npos;
}

std::string HardwareIdFor(unsigned vendorId, unsigned productId, unsigned release) {
  return Format("HID\\VID_%04X&PID_%04X&REV_%04X", vendorId, productId, release);
}

}  // namespace qs71
