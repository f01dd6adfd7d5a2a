#include "usb_hid.h"

#include <cstring>

#include "qs71_usb_writer.h"

UsbHid::UsbHid() : outReport(outBuffer), inReport(inBuffer), port(qs71::HidPortCreate()) {
  std::memset(outBuffer, 0xFF, sizeof outBuffer);
  std::memset(inBuffer, 0xFF, sizeof inBuffer);
}

UsbHid::~UsbHid() { qs71::HidPortDestroy(port); }

std::string UsbHid::DeviceIdFor(const std::string& vid, const std::string& pid,
                                const std::string& rev) {
  return "Vid_" + vid + "&Pid_" + pid + "&rev_" + rev;
}

bool UsbHid::List(const std::string& vid, const std::string& pid, const std::string& rev,
                  std::vector<qs71::HidPortInfo>& found) {
  return qs71::HidPortList(DeviceIdFor(vid, pid, rev), found);
}

bool UsbHid::Open(const std::string& vid, const std::string& pid, const std::string& rev,
                  const std::string& path) {
  deviceId = DeviceIdFor(vid, pid, rev);
  devicePath = path;
  if (!FindDevice()) {
    connected = false;
    openFailed = false;
    return false;
  }
  // Nothing goes to a programmer that another process holds, not even a handle's open.
  const qs71::HoldResult held = qs71::HidPortHold(port);
  refusal = held.code;
  if (refusal != 0) {
    refusalMessage = qs71::RefusalText(held);
    connected = false;
    openFailed = true;
    return false;
  }
  const bool writeOpened = qs71::HidPortOpenWrite(port);
  const bool readOpened = qs71::HidPortOpenRead(port);
  if (writeOpened && readOpened) {
    connected = true;
    openFailed = false;
    return true;
  }
  // Half a programmer is no programmer: release the handle that did open so that another
  // tool can take the device, and refuse every transfer from now on.
  connected = false;
  openFailed = true;
  if (writeOpened) qs71::HidPortCloseWrite(port);
  if (readOpened) qs71::HidPortCloseRead(port);
  return false;
}

int UsbHid::HoldDevice(const std::string& vid, const std::string& pid, const std::string& rev,
                       const std::string& path, std::string& found, qs71::HeldShares& shares,
                       std::string& why) {
  UsbHid hid;
  hid.deviceId = DeviceIdFor(vid, pid, rev);
  hid.devicePath = path;
  if (!hid.FindDevice()) return QS71_E_TRANSPORT;
  const qs71::HoldResult held = qs71::HidPortHold(hid.port);
  why = held.why;
  if (held.code != 0) return held.code;
  found = qs71::HidPortPath(hid.port);
  shares = qs71::HidPortKeepHold(hid.port);
  return 0;
}

bool UsbHid::FindDevice() {
  return port != nullptr && qs71::HidPortFind(port, deviceId, devicePath);
}

void UsbHid::AnnounceJob(bool runsSteps) {
  if (Usable()) qs71::HidPortAnnounceJob(port, runsSteps);
}

void UsbHid::ClearBuffers() {
  std::memset(outBuffer, 0xFF, sizeof outBuffer);
  std::memset(inBuffer, 0xFF, sizeof inBuffer);
}

bool UsbHid::WriteReport() { return WriteReportFrom(outReport); }

bool UsbHid::ReadReport() { return ReadReportInto(inReport); }

bool UsbHid::WriteReportFrom(const uint8_t* src) {
  if (!Usable()) return false;
  uint8_t block[qs71::kReportBlock];
  block[0] = 0x00;
  std::memcpy(block + 1, src, qs71::kReportPayload);
  return qs71::HidPortWrite(port, block);
}

bool UsbHid::ReadReportInto(uint8_t* dst) {
  if (!Usable()) return false;
  uint8_t block[qs71::kReportBlock];
  std::memset(block, 0x00, sizeof block);
  if (!qs71::HidPortRead(port, block)) return false;
  std::memcpy(dst, block + 1, qs71::kReportPayload);
  return true;
}

bool UsbHid::Transact() {
  const bool written = WriteReport();
  const bool read = ReadReport();
  return written && read;
}
