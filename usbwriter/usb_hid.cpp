#include "usb_hid.h"

#include <cstring>

UsbHid::UsbHid() : outReport(outBuffer), inReport(inBuffer), port(qs71::HidPortCreate()) {
  std::memset(outBuffer, 0xFF, sizeof outBuffer);
  std::memset(inBuffer, 0xFF, sizeof inBuffer);
}

UsbHid::~UsbHid() { qs71::HidPortDestroy(port); }

bool UsbHid::Open(const std::string& vid, const std::string& pid, const std::string& rev) {
  deviceId = "Vid_" + vid + "&Pid_" + pid + "&rev_" + rev;
  if (!FindDevice()) {
    connected = false;
    openFailed = false;
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

bool UsbHid::FindDevice() { return port != nullptr && qs71::HidPortFind(port, deviceId); }

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
