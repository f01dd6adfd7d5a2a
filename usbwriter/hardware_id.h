#pragma once

#include <cstddef>
#include <string>

namespace qs71 {

// Windows lists a HID device's hardware IDs as NUL-separated strings, most specific first
// ("HID\VID_04D8&PID_FE08&REV_0101", then less specific ones). Only the first one names the
// release, so only the first one is searched.
std::string FirstHardwareId(const char* list, size_t length);

// The pattern is the programmer's "Vid_04D8&Pid_FE08&rev_0101"; vendors and drivers disagree
// about case, so both sides are lowered before the substring search.
bool HardwareIdMatches(const std::string& hardwareId, const std::string& pattern);

// The hardware ID a device with these numbers carries on Windows; platforms without such IDs
// build it from their own enumeration so that every port matches the same way.
std::string HardwareIdFor(unsigned vendorId, unsigned productId, unsigned release);

}  // namespace qs71
