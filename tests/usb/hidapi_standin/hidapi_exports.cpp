// The calls the production library imports from libhidapi-hidraw.so.0, and the stand-in's
// control interface. Only these leave the library; everything else is hidden.
#pragma GCC visibility push(default)
#include <hidapi.h>
#pragma GCC visibility pop

#include <algorithm>
#include <cstring>

#include "standin_control.h"
#include "standin_device.h"

namespace {

qs71::standin::StandinDevice& Device() { return qs71::standin::StandinDevice::Instance(); }

}  // namespace

extern "C" {

int hid_init(void) { return Device().Init(); }

int hid_exit(void) { return Device().Exit(); }

hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
  return Device().Enumerate(vendor_id, product_id);
}

void hid_free_enumeration(hid_device_info* devs) { Device().FreeEnumeration(devs); }

hid_device* hid_open_path(const char* path) { return Device().Open(path); }

void hid_close(hid_device* dev) { Device().Close(dev); }

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
  return Device().Write(dev, data, length);
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
  return Device().Read(dev, data, length, milliseconds);
}

void Qs71StandinReset(void) { Device().Reset(); }

int32_t Qs71StandinAddFaults(const char* faults) {
  return faults != nullptr && Device().AddFaults(faults) ? 0 : -1;
}

void Qs71StandinGetRecord(Qs71StandinRecord* record) { *record = Device().Record(); }

const char* Qs71StandinViolations(void) { return Device().Violations().c_str(); }

uint32_t Qs71StandinCopyOtp(uint8_t* destination, uint32_t capacity) {
  const std::vector<uint8_t>& cells = Device().Cells();
  if (destination == nullptr) return static_cast<uint32_t>(cells.size());
  std::memcpy(destination, cells.data(), std::min<size_t>(capacity, cells.size()));
  return static_cast<uint32_t>(cells.size());
}

}  // extern "C"
