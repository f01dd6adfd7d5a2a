#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qs71::wine {

// How long an interface stays on the bus once the search has found it.
enum class Presence {
  kPresent,
  kGoneBeforeDetail,  // unplugged before its detail is asked: no size, the call fails
  kGoneDuringDetail,  // unplugged between the size query and the read of the detail
};

struct BusEntry {
  const char* hardwareIds;  // the hardware-ID list, '|' between the strings
  Presence presence;
  bool programmer;  // its device path is the pipe programmer's
};

// What the library's SetupAPI calls see from now on: these interfaces of the HID class, in
// this order; the programmer's device path is pipePath, every other path leads nowhere.
void SetFakeBus(const std::vector<BusEntry>& entries, const std::string& pipePath);
// Device-information sets handed out and not yet destroyed.
int FakeSetsOpen();
// Points the module's six SetupAPI imports at the fakes; false when one is not imported.
bool PatchSetupApi(HMODULE module);

}  // namespace qs71::wine
