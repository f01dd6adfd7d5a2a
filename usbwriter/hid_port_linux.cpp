// Linux: the programmer through hidapi's hidraw backend. hidraw has no hardware-ID strings,
// so each enumerated device gets the one Windows would show for its numbers, and the same
// match applies on both systems.
#include "hid_port.h"

#include <hidapi.h>

#include "hardware_id.h"

namespace qs71 {

struct HidPortDevice {
  bool initialized = false;
  std::string path;
  hid_device* writeHandle = nullptr;
  hid_device* readHandle = nullptr;
};

HidPortDevice* HidPortCreate() { return new HidPortDevice(); }

void HidPortDestroy(HidPortDevice* device) {
  if (device == nullptr) return;
  HidPortCloseWrite(device);
  HidPortCloseRead(device);
  // Every call of the library finds and opens the programmer afresh, so hidapi is set up and
  // torn down with it; nothing of it (not even its last error text) outlives the call.
  if (device->initialized) hid_exit();
  delete device;
}

bool HidPortFind(HidPortDevice* device, const std::string& pattern) {
  if (hid_init() != 0) return false;
  device->initialized = true;
  hid_device_info* all = hid_enumerate(0x0000, 0x0000);
  bool found = false;
  for (hid_device_info* info = all; info != nullptr && !found; info = info->next) {
    const std::string id =
        HardwareIdFor(info->vendor_id, info->product_id, info->release_number);
    if (info->path != nullptr && HardwareIdMatches(id, pattern)) {
      device->path = info->path;
      found = true;
    }
  }
  hid_free_enumeration(all);
  return found;
}

bool HidPortOpenWrite(HidPortDevice* device) {
  device->writeHandle = hid_open_path(device->path.c_str());
  return device->writeHandle != nullptr;
}

bool HidPortOpenRead(HidPortDevice* device) {
  device->readHandle = hid_open_path(device->path.c_str());
  return device->readHandle != nullptr;
}

void HidPortCloseWrite(HidPortDevice* device) {
  if (device->writeHandle != nullptr) hid_close(device->writeHandle);
  device->writeHandle = nullptr;
}

void HidPortCloseRead(HidPortDevice* device) {
  if (device->readHandle != nullptr) hid_close(device->readHandle);
  device->readHandle = nullptr;
}

// hidapi takes the report ID as the first byte and sends the 64 bytes behind it. A report
// goes out whole or not at all; kernels differ on whether the ID byte is counted.
bool HidPortWrite(HidPortDevice* device, const uint8_t (&block)[kReportBlock]) {
  return hid_write(device->writeHandle, block, kReportBlock) > 0;
}

// hidraw hands back unnumbered reports without the ID byte, so the payload lands behind it.
// The read is synchronous: when the time-out passes nothing is left pending on the block.
bool HidPortRead(HidPortDevice* device, uint8_t (&block)[kReportBlock]) {
  block[0] = 0x00;
  const int got = hid_read_timeout(device->readHandle, block + 1, kReportPayload,
                                   kTransferTimeoutMs);
  return got > 0;
}

}  // namespace qs71
