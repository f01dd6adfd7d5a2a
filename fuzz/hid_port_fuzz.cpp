// A HID port whose programmer answers with whatever bytes the fuzzer chose: every read takes
// the next 64 bytes, and the programmer is gone when they run out. Requests go nowhere.
#include "hid_port_fuzz.h"

#include <cstring>

#include "hid_port.h"

namespace qs71 {

struct HidPortDevice {
  int unused = 0;
};

namespace {
const uint8_t* g_replies = nullptr;
size_t g_left = 0;
}  // namespace

void SetFuzzReplies(const uint8_t* data, size_t size) {
  g_replies = data;
  g_left = size;
}

HidPortDevice* HidPortCreate() { return new HidPortDevice; }
void HidPortDestroy(HidPortDevice* device) { delete device; }
bool HidPortList(const std::string&, std::vector<HidPortInfo>& found) {
  found.clear();
  return true;
}
bool HidPortFind(HidPortDevice*, const std::string&, const std::string&) { return true; }
// Nothing is shared with another process: the programmer lives in the fuzzer's bytes.
HoldResult HidPortHold(HidPortDevice*) { return HoldResult{}; }
HidPortInfo HidPortFound(const HidPortDevice*) { return {"fuzz", "", 0, "fuzz"}; }
// The fuzzer's programmer is never unplugged behind the call's back.
bool HidPortConfirm(HidPortDevice*) { return true; }
HeldShares HidPortKeepHold(HidPortDevice*) { return {}; }
void HidPortLockForFork() {}
void HidPortUnlockAfterFork() {}
void HidPortAnnounceJob(HidPortDevice*, PartUse) {}
bool HidPortOpenWrite(HidPortDevice*) { return true; }
bool HidPortOpenRead(HidPortDevice*) { return true; }
void HidPortCloseWrite(HidPortDevice*) {}
void HidPortCloseRead(HidPortDevice*) {}
bool HidPortWrite(HidPortDevice*, const uint8_t (&)[kReportBlock]) { return true; }

bool HidPortRead(HidPortDevice*, uint8_t (&block)[kReportBlock]) {
  if (g_left < kReportPayload) return false;
  block[0] = 0;
  std::memcpy(block + 1, g_replies, kReportPayload);
  g_replies += kReportPayload;
  g_left -= kReportPayload;
  return true;
}

}  // namespace qs71
