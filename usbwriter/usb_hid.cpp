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

namespace qs71 {

const HidPortInfo* NamedDevice(const std::vector<HidPortInfo>& found, const std::string& path) {
  const HidPortInfo* named = nullptr;
  for (const HidPortInfo& info : found) {
    if (path.empty() ? named == nullptr || info.path < named->path : info.path == path) {
      named = &info;
    }
  }
  return named;
}

}  // namespace qs71

bool UsbHid::List(const std::string& vid, const std::string& pid, const std::string& rev,
                  std::vector<qs71::HidPortInfo>& found) {
  return qs71::HidPortList(DeviceIdFor(vid, pid, rev), found);
}

bool UsbHid::Open(const std::string& vid, const std::string& pid, const std::string& rev,
                  const std::string& path) {
  qs71::ProgrammerName name;
  name.path = path;
  return Open(vid, pid, rev, name);
}

namespace {

// The text of QS71_E_REPLACED: what stands at the path instead of the device named.
std::string Replaced(const qs71::HidPortInfo& there) {
  return "Programmer replaced: " + there.path + " is not the device named (serial " +
         (there.serial.empty() ? std::string("none") : there.serial) + ", " +
         (there.node.empty() ? std::string("node unknown") : there.node) + ")";
}

// A host names a programmer by what its listing gave, and the listing cuts a long serial.
bool IsNamed(const qs71::ProgrammerName& name, const qs71::HidPortInfo& there) {
  const bool serial = there.serial == name.serial ||
                      CutToField(there.serial, sizeof(Qs71ProgrammerInfo{}.serial)) == name.serial;
  return !name.exact || (there.node == name.node && serial);
}

}  // namespace

std::string CutToField(const std::string& text, size_t size) {
  if (size == 0) return "";
  size_t length = text.size() < size ? text.size() : size - 1;
  while (length < text.size() && length > 0 &&
         (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
    --length;
  }
  return text.substr(0, length);
}

void UsbHid::Refuse(int code, const std::string& why) {
  refusal = code;
  refusalMessage = why;
  connected = false;
  openFailed = true;
}

// The node is compared before the hold, so that another device is not held for a moment,
// and again after it: the hold lands on the node that is there by then.
bool UsbHid::FindDevice() {
  return port != nullptr && qs71::HidPortFind(port, deviceId, named.path);
}

int UsbHid::FindAndHold(std::string& why) {
  if (!FindDevice()) return QS71_E_TRANSPORT;
  if (!IsNamed(named, qs71::HidPortFound(port))) {
    why = Replaced(qs71::HidPortFound(port));
    return QS71_E_REPLACED;
  }
  const qs71::HoldResult held = qs71::HidPortHold(port);
  if (held.code != 0) {
    why = held.why;
    return held.code;
  }
  if (!IsNamed(named, qs71::HidPortFound(port))) {
    why = Replaced(qs71::HidPortFound(port));
    return QS71_E_REPLACED;
  }
  return 0;
}

bool UsbHid::Open(const std::string& vid, const std::string& pid, const std::string& rev,
                  const qs71::ProgrammerName& name) {
  deviceId = DeviceIdFor(vid, pid, rev);
  named = name;
  std::string why;
  const int code = FindAndHold(why);
  // Not found at all; the emulated part that cannot be attached says why, as a refusal.
  if (code == QS71_E_TRANSPORT && why.empty()) {
    connected = false;
    openFailed = false;
    return false;
  }
  // Nothing goes to a programmer that another process holds, not even a handle's open.
  if (code != 0) {
    Refuse(code, code == QS71_E_REPLACED ? why : qs71::RefusalText({code, why}));
    return false;
  }
  const bool writeOpened = qs71::HidPortOpenWrite(port);
  const bool readOpened = qs71::HidPortOpenRead(port);
  if (writeOpened && readOpened && qs71::HidPortConfirm(port)) {
    connected = true;
    openFailed = false;
    return true;
  }
  if (writeOpened) qs71::HidPortCloseWrite(port);
  if (readOpened) qs71::HidPortCloseRead(port);
  if (writeOpened && readOpened) {
    Refuse(QS71_E_REPLACED, Replaced(qs71::HidPortFound(port)));
    return false;
  }
  // Half a programmer is no programmer: release the handle that did open so that another
  // tool can take the device, and refuse every transfer from now on.
  connected = false;
  openFailed = true;
  return false;
}

int UsbHid::HoldDevice(const std::string& vid, const std::string& pid, const std::string& rev,
                       const qs71::ProgrammerName& name, qs71::HidPortInfo& found,
                       qs71::HeldShares& shares, std::string& why) {
  UsbHid hid;
  hid.deviceId = DeviceIdFor(vid, pid, rev);
  hid.named = name;
  const int code = hid.FindAndHold(why);
  if (code != 0) return code;
  found = qs71::HidPortFound(hid.port);
  shares = qs71::HidPortKeepHold(hid.port);
  return 0;
}

void UsbHid::AnnounceJob(qs71::PartUse use) {
  if (Usable()) qs71::HidPortAnnounceJob(port, use);
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
