#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "part_use.h"
#include "programmer_hold.h"

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

// One attached device that carries the pattern's hardware ID. A programmer is known by two
// things: its node and its serial. The path only says where a node is now, and hidraw gives
// a freed one to the next device plugged in; two programmers whose firmware reports one fixed
// serial differ by their nodes.
struct HidPortInfo {
  std::string path;    // what HidPortFind takes to open exactly this device
  std::string serial;  // UTF-8, empty when the device has none
  uint16_t release = 0;
  // The device node's own identity, which goes when the device goes: the hidraw node's
  // device and inode on Linux ("inode 5:11165717"), the device instance ID on Windows, the
  // emulated programmer's number on the bus. Empty when it cannot be read.
  std::string node;
};

// The programmer a call names: at a path (empty: the first programmer, NamedDevice), and when
// exact, the device with that node and serial, which the one
// at the path must be.
struct ProgrammerName {
  std::string path;
  bool exact = false;
  std::string node;
  std::string serial;
};

// The attached devices whose first hardware ID contains the pattern, ordered by path. False
// when the system cannot list its devices at all. Safe to call from several threads.
bool HidPortList(const std::string& pattern, std::vector<HidPortInfo>& found);

HidPortDevice* HidPortCreate();
// Closes whichever handles are still open.
void HidPortDestroy(HidPortDevice* device);
// The device a path names among those found: the one with that path, or for an empty path
// "the first programmer", the one with the lowest path (the first of HidPortList's order),
// wherever the system enumerates it; null for none. Every port finds by this.
const HidPortInfo* NamedDevice(const std::vector<HidPortInfo>& found, const std::string& path);

// Looks for the HID device with that path (empty: the first programmer, NamedDevice) among
// those whose first hardware ID contains the pattern (see hardware_id.h), and remembers what
// HidPortList would say of it. Calls on different devices may run at the same time.
bool HidPortFind(HidPortDevice* device, const std::string& pattern, const std::string& path);
// Takes the call's hold of the device found, before any report and before the two handles
// open: code 0, or QS71_E_BUSY or QS71_E_HOLD with the holder or the reason
// (programmer_hold.h). The hold is of the node: where the port can tell, the found device's
// node becomes the one the hold landed on. The emulated programmer attaches its part here as
// well, once it holds it, and refuses with QS71_E_TRANSPORT and the reason when the part
// cannot be attached. The hold goes with the device (HidPortDestroy), after its handles.
HoldResult HidPortHold(HidPortDevice* device);
// The device found, as HidPortList describes it.
HidPortInfo HidPortFound(const HidPortDevice* device);
// After the handles opened: whether they reach the device found and held, and not another
// that took its path meanwhile (Linux: the node at the path is still the one held; Windows:
// the device there still reports the serial found).
bool HidPortConfirm(HidPortDevice* device);
// Hands the device's hold over, to outlive the device (Qs71UsbHold).
HeldShares HidPortKeepHold(HidPortDevice* device);
// Around a fork: the port's own process-wide locks taken before it, so that the child finds
// them free, and let go after it in both processes. Called with the holds' locks taken
// (process_holds.cpp), in the order the calls take them.
void HidPortLockForFork();
void HidPortUnlockAfterFork();
// What the call that holds the device does to the part (part_use.h).
void HidPortAnnounceJob(HidPortDevice* device, PartUse use);
bool HidPortOpenWrite(HidPortDevice* device);
bool HidPortOpenRead(HidPortDevice* device);
void HidPortCloseWrite(HidPortDevice* device);
void HidPortCloseRead(HidPortDevice* device);
// One report each; a transfer that has not completed within kTransferTimeoutMs fails and is
// cancelled before the call returns, so the block is never written after it.
bool HidPortWrite(HidPortDevice* device, const uint8_t (&block)[kReportBlock]);
bool HidPortRead(HidPortDevice* device, uint8_t (&block)[kReportBlock]);

}  // namespace qs71
