// Linux: the programmer through hidapi's hidraw backend. hidraw has no hardware-ID strings,
// so each enumerated device gets the one Windows would show for its numbers, and the same
// match applies on both systems.
#include "hid_port.h"

#include <hidapi.h>

#include <cerrno>
#include <chrono>

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

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// hid_read_timeout polls, and a signal caught on the host's thread ends the poll early with
// EINTR. That says nothing about the programmer, so the read is taken up again for what is
// left of the ten seconds. hidapi leaves errno alone when it reports an unplug, hence the
// clearing before each attempt: a stale EINTR must not keep a dead device polled.
int ReadWithinDeadline(hid_device* handle, uint8_t* payload) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(kTransferTimeoutMs);
  int waitMs = kTransferTimeoutMs;
  for (;;) {
    errno = 0;
    const int got = hid_read_timeout(handle, payload, kReportPayload, waitMs);
    if (got >= 0 || errno != EINTR) return got;
    waitMs = MillisecondsLeft(deadline);
    if (waitMs == 0) return 0;
  }
}

}  // namespace

// hidraw hands back unnumbered reports without the ID byte, so the payload lands behind it.
// The programmer always sends 64 bytes; anything shorter is a broken report, not a reply.
// The read is synchronous: when the time-out passes nothing is left pending on the block.
bool HidPortRead(HidPortDevice* device, uint8_t (&block)[kReportBlock]) {
  block[0] = 0x00;
  return ReadWithinDeadline(device->readHandle, block + 1) == static_cast<int>(kReportPayload);
}

}  // namespace qs71
