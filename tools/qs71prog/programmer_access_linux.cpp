#include <hidapi.h>
#include <unistd.h>

#include "programmer_access.h"

namespace qs71prog {

namespace {

constexpr unsigned short kVendorId = 0x04D8;
constexpr unsigned short kProductId = 0xFE08;
constexpr unsigned short kRelease = 0x0101;

}  // namespace

// Listing needs no access to the node itself: hidapi reads the list from udev and sysfs.
std::vector<ProgrammerNode> FindProgrammers() {
  std::vector<ProgrammerNode> programmers;
  if (hid_init() != 0) return programmers;
  hid_device_info* devices = hid_enumerate(kVendorId, kProductId);
  for (const hid_device_info* device = devices; device != nullptr; device = device->next) {
    if (device->release_number != kRelease || device->path == nullptr) continue;
    ProgrammerNode node;
    node.path = device->path;
    node.accessible = access(device->path, R_OK | W_OK) == 0;
    programmers.push_back(node);
  }
  hid_free_enumeration(devices);
  hid_exit();
  return programmers;
}

}  // namespace qs71prog
