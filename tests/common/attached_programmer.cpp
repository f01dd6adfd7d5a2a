#include "attached_programmer.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

// The kernel names each HID device BUS:VENDOR:PRODUCT.INSTANCE under /sys/bus/hid/devices.
std::string AttachedProgrammer() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/hid/devices", error)) {
    const std::string name = entry.path().filename().string();
    unsigned bus = 0, vendor = 0, product = 0, instance = 0;
    if (std::sscanf(name.c_str(), "%x:%x:%x.%x", &bus, &vendor, &product, &instance) == 4 &&
        vendor == 0x04D8 && product == 0xFE08) {
      return name;
    }
  }
  return "";
}

}  // namespace

std::string AttachedProgrammerWarning() {
  const std::string attached = AttachedProgrammer();
  if (attached.empty()) return "";
  return "a 04d8:fe08 programmer is attached (" + attached +
         "); this test expects none and would talk to it";
}
