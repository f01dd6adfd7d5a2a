// Linux: the programmer through hidapi's hidraw backend. hidraw has no hardware-ID strings,
// so each enumerated device gets the one Windows would show for its numbers, and the same
// match applies on both systems.
//
// hidapi keeps process-wide state: hid_init and hid_exit set it up and tear it down, and
// hid_enumerate and hid_open_path record their errors in it. None of that is safe from two
// threads, so those calls (and hid_close) take one lock, and hidapi stays set up for as long
// as any call of the library holds a device or lists them: the first to come initialises it,
// the last to leave shuts it down. Reads and writes touch only their own device.
#include "hid_port.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <utility>

#include "file_system.h"  // IdentifyFile
#include "hardware_id.h"

namespace qs71 {

namespace {

// hidapi's strings are wchar_t, UTF-32 on Linux.
std::string Utf8Of(const wchar_t* text) {
  std::string utf8;
  for (; text != nullptr && *text != L'\0'; ++text) {
    const uint32_t c = static_cast<uint32_t>(*text);
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | c >> 6);
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8 += static_cast<char>(0xE0 | c >> 12);
      utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x110000) {
      utf8 += static_cast<char>(0xF0 | c >> 18);
      utf8 += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

std::mutex hidapiLock;
int hidapiUsers = 0;  // guarded by hidapiLock

// Every call of the library finds and opens the programmer afresh, so hidapi is set up and
// torn down with it; nothing of it (not even its last error text) outlives the last call.
bool AcquireHidapi() {
  std::lock_guard<std::mutex> hold(hidapiLock);
  if (hidapiUsers == 0 && hid_init() != 0) return false;
  ++hidapiUsers;
  return true;
}

void ReleaseHidapi() {
  std::lock_guard<std::mutex> hold(hidapiLock);
  if (--hidapiUsers == 0) hid_exit();
}

// The devices that carry the pattern's hardware ID, in hidapi's order. Call with the lock.
std::vector<HidPortInfo> Matching(const std::string& pattern) {
  std::vector<HidPortInfo> found;
  hid_device_info* all = hid_enumerate(0x0000, 0x0000);
  for (hid_device_info* info = all; info != nullptr; info = info->next) {
    const std::string id =
        HardwareIdFor(info->vendor_id, info->product_id, info->release_number);
    if (info->path == nullptr || !HardwareIdMatches(id, pattern)) continue;
    found.push_back({info->path, Utf8Of(info->serial_number), info->release_number,
                     NodeIdentityOf(IdentifyFile(info->path))});
  }
  hid_free_enumeration(all);
  return found;
}

hid_device* OpenLocked(const std::string& path) {
  std::lock_guard<std::mutex> hold(hidapiLock);
  return hid_open_path(path.c_str());
}

void CloseLocked(hid_device*& handle) {
  if (handle == nullptr) return;
  std::lock_guard<std::mutex> hold(hidapiLock);
  hid_close(handle);
  handle = nullptr;
}

}  // namespace

struct HidPortDevice {
  bool initialized = false;
  HidPortInfo found;
  hid_device* writeHandle = nullptr;
  hid_device* readHandle = nullptr;
  HeldShares holds;
};

bool HidPortList(const std::string& pattern, std::vector<HidPortInfo>& found) {
  if (!AcquireHidapi()) return false;
  {
    std::lock_guard<std::mutex> hold(hidapiLock);
    found = Matching(pattern);
  }
  ReleaseHidapi();
  std::sort(found.begin(), found.end(),
            [](const HidPortInfo& a, const HidPortInfo& b) { return a.path < b.path; });
  return true;
}

HidPortDevice* HidPortCreate() { return new HidPortDevice(); }

void HidPortDestroy(HidPortDevice* device) {
  if (device == nullptr) return;
  HidPortCloseWrite(device);
  HidPortCloseRead(device);
  device->holds.clear();
  if (device->initialized) ReleaseHidapi();
  delete device;
}

bool HidPortFind(HidPortDevice* device, const std::string& pattern, const std::string& path) {
  if (!device->initialized && !AcquireHidapi()) return false;
  device->initialized = true;
  std::lock_guard<std::mutex> hold(hidapiLock);
  const std::vector<HidPortInfo> found = Matching(pattern);
  const HidPortInfo* named = NamedDevice(found, path);
  if (named != nullptr) device->found = *named;
  return named != nullptr;
}

// A descriptor of the library's own on the node, locked: hidapi's handles cannot carry the
// lock, and a lock on the node itself is met by every user who can open the device, where a
// lock file would be met only by those who share its folder and may open it. The node held
// is the one the descriptor opened, which may be newer than the one listed.
HoldResult HidPortHold(HidPortDevice* device) {
  std::string held;
  const HoldResult result = HoldFile(device->found.path, device->holds, &held);
  if (result.code == 0) device->found.node = held;
  return result;
}

HidPortInfo HidPortFound(const HidPortDevice* device) { return device->found; }

// hidapi opened the device by its path: the node there must still be the one held.
bool HidPortConfirm(HidPortDevice* device) {
  return NodeIdentityOf(IdentifyFile(device->found.path.c_str())) == device->found.node;
}

HeldShares HidPortKeepHold(HidPortDevice* device) { return std::exchange(device->holds, {}); }

// A child forked while another thread was inside hidapi would find its lock taken for good.
// hidapi's state is copied as it was between two calls: the child goes on with it.
void HidPortLockForFork() { hidapiLock.lock(); }
void HidPortUnlockAfterFork() { hidapiLock.unlock(); }

void HidPortAnnounceJob(HidPortDevice*, PartUse) {}

bool HidPortOpenWrite(HidPortDevice* device) {
  device->writeHandle = OpenLocked(device->found.path);
  return device->writeHandle != nullptr;
}

bool HidPortOpenRead(HidPortDevice* device) {
  device->readHandle = OpenLocked(device->found.path);
  return device->readHandle != nullptr;
}

void HidPortCloseWrite(HidPortDevice* device) { CloseLocked(device->writeHandle); }

void HidPortCloseRead(HidPortDevice* device) { CloseLocked(device->readHandle); }

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
