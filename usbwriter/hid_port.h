#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qs71 {

// On the wire every report is the report ID (always 0: the programmer has unnumbered
// reports) followed by 64 payload bytes, in both directions.
inline constexpr size_t kReportPayload = 64;
inline constexpr size_t kReportBlock = kReportPayload + 1;
// How long a transfer may take before the programmer is given up for lost.
inline constexpr int kTransferTimeoutMs = 10000;

// The platform's view of the programmer, one implementation per platform chosen at build
// time: hid_port_windows.cpp (SetupAPI and the kernel's file calls), hid_port_linux.cpp
// (hidapi over hidraw), hid_port_emulated.cpp (the emulated programmer in this process).
// The device is opened as two handles, one for each direction, as on Windows.
struct HidPortDevice;

HidPortDevice* HidPortCreate();
// Closes whichever handles are still open.
void HidPortDestroy(HidPortDevice* device);
// Looks for the first HID device whose first hardware ID contains the pattern (see
// hardware_id.h) and remembers its path.
bool HidPortFind(HidPortDevice* device, const std::string& pattern);
bool HidPortOpenWrite(HidPortDevice* device);
bool HidPortOpenRead(HidPortDevice* device);
void HidPortCloseWrite(HidPortDevice* device);
void HidPortCloseRead(HidPortDevice* device);
// One report each; a transfer that has not completed within kTransferTimeoutMs fails and is
// cancelled before the call returns, so the block is never written after it.
bool HidPortWrite(HidPortDevice* device, const uint8_t (&block)[kReportBlock]);
bool HidPortRead(HidPortDevice* device, uint8_t (&block)[kReportBlock]);

}  // namespace qs71
