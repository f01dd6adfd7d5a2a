// The emulated build: the port connects the transport to the emulated programmer in this
// process (emulator/), so the whole library runs unchanged without hardware.
#include "hid_port.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "emulated_bus.h"
#include "emulated_device.h"
#include "emulated_socket.h"
#include "emulator_settings.h"
#include "session_record.h"
#include "qs71_usb_writer.h"

namespace qs71 {

// The holds outlive the device: it lets go of its part's file before the hold of it goes.
struct HidPortDevice {
  HeldShares holds;
  std::unique_ptr<emu::EmulatedDevice> device;
  bool writeOpen = false;
  bool readOpen = false;
};

bool HidPortList(const std::string& pattern, std::vector<HidPortInfo>& found) {
  std::vector<emu::EmulatedDevice::Listed> listed;
  if (!emu::EmulatedDevice::List(pattern, listed)) return false;
  found.clear();
  for (const auto& device : listed) {
    found.push_back({device.path, device.serial, static_cast<uint16_t>(device.release),
                     device.node});
  }
  std::sort(found.begin(), found.end(),
            [](const HidPortInfo& a, const HidPortInfo& b) { return a.path < b.path; });
  return true;
}

HidPortDevice* HidPortCreate() { return new HidPortDevice(); }

// Detaching the device closes the OTP file and the transcript.
void HidPortDestroy(HidPortDevice* port) { delete port; }

bool HidPortFind(HidPortDevice* port, const std::string& pattern, const std::string& path) {
  std::string chosen = path;
  if (chosen.empty()) {
    std::vector<HidPortInfo> found;
    const HidPortInfo* first = HidPortList(pattern, found) ? NamedDevice(found, "") : nullptr;
    if (first == nullptr) return false;
    chosen = first->path;
  }
  port->device = emu::EmulatedDevice::Attach(pattern, chosen);
  return port->device != nullptr;
}

HoldResult HidPortHold(HidPortDevice* port) {
  if (!port->device) return HoldResult{QS71_E_TRANSPORT, "not found"};
  return port->device->Hold(port->holds);
}

HidPortInfo HidPortFound(const HidPortDevice* port) {
  if (!port->device) return HidPortInfo{};
  return {port->device->Path(), port->device->Serial(), static_cast<uint16_t>(emu::kEmulatedRelease),
          port->device->Node()};
}

// The emulated device is attached as the bus listed it for the whole call.
bool HidPortConfirm(HidPortDevice*) { return true; }

HeldShares HidPortKeepHold(HidPortDevice* port) { return std::exchange(port->holds, {}); }

// The emulator's settings, sockets and records are the process's, each under its lock: a child
// forked while another thread held one would wait for it for good. In the order the calls
// take them (settings before a socket or a record; none of them inside another).
void HidPortLockForFork() {
  emu::ControlLock().lock();
  emu::LockSocketsForFork();
  emu::LockSessionsForFork();
}

void HidPortUnlockAfterFork() {
  emu::UnlockSessionsAfterFork();
  emu::UnlockSocketsAfterFork();
  emu::ControlLock().unlock();
}

void HidPortAnnounceJob(HidPortDevice* port, PartUse use) {
  if (port->device) port->device->AnnounceJob(use);
}

bool HidPortOpenWrite(HidPortDevice* port) {
  port->writeOpen = port->device && port->device->OpenWrite();
  return port->writeOpen;
}

bool HidPortOpenRead(HidPortDevice* port) {
  port->readOpen = port->device && port->device->OpenRead();
  return port->readOpen;
}

void HidPortCloseWrite(HidPortDevice* port) { port->writeOpen = false; }

void HidPortCloseRead(HidPortDevice* port) { port->readOpen = false; }

bool HidPortWrite(HidPortDevice* port, const uint8_t (&block)[kReportBlock]) {
  return port->writeOpen && port->device->Write(block);
}

bool HidPortRead(HidPortDevice* port, uint8_t (&block)[kReportBlock]) {
  return port->readOpen && port->device->Read(block);
}

}  // namespace qs71
