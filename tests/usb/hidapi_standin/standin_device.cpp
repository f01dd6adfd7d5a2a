#include "standin_device.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace qs71::standin {

namespace {

// What the library is held to: 65-byte reports, report ID 0, a 64-byte reply buffer, and
// never a wait longer than its ten seconds (nor an endless one).
constexpr size_t kReportBlock = 65;
constexpr size_t kReplyBytes = 64;
constexpr int kTransferTimeoutMs = 10000;
// hidraw's ring per open file has 64 slots and keeps one free; a full ring drops new reports.
constexpr size_t kQueueDepth = 63;
// The bytes a short report carries: enough for an ID reply to look whole.
constexpr size_t kShortReportBytes = 16;

constexpr emu::ChipId kGoodPart = {0x6D, 0x61, 0x02, 0x00};
constexpr const char* kProgrammerNode = "hidraw3";

// The bus as hidapi lists it: a stranger, a programmer of another release and an entry
// whose device node has no name come before the programmer.
struct BusEntry {
  const char* path;
  unsigned short vendorId;
  unsigned short productId;
  unsigned short release;
  bool isProgrammer;
  const wchar_t* serial;
};

// The programmer's serial has a character beyond ASCII, as hidapi hands it over (wchar_t).
constexpr BusEntry kBus[] = {
    {"hidraw0", 0x046D, 0xC52B, 0x1201, false, L"decoy"},
    {"hidraw1", 0x04D8, 0xFE08, 0x0102, false, L"QS71-0001"},
    {nullptr, 0x04D8, 0xFE08, 0x0101, false, nullptr},
    {kProgrammerNode, 0x04D8, 0xFE08, 0x0101, true, L"QS71-\u00C4\U0001F600-42"},
};

// A private folder of this process's own, gone with it.
std::string PrivateFolder() {
  char pattern[] = "/tmp/qs71-standin-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) return "/tmp";
  static std::string folder = made;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
  return folder;
}

// The device nodes are files, as hidraw's are, so that the library can lock them: in
// QS71_STANDIN_DIR when set (a test sharing one programmer between processes and users),
// else in a private folder. Every user may open them, as a udev rule lets every user open
// the programmer. A node a test removed stays removed.
const std::string& NodeFolder() {
  static const std::string folder = [] {
    const char* chosen = std::getenv("QS71_STANDIN_DIR");
    const std::string dir = chosen != nullptr && *chosen != '\0' ? chosen : PrivateFolder();
    for (const BusEntry& entry : kBus) {
      if (entry.path == nullptr) continue;
      const std::string node = dir + "/" + entry.path;
      std::error_code ignored;
      if (std::filesystem::exists(node, ignored)) continue;
      std::ofstream{node};
      chmod(node.c_str(), 0666);
    }
    return dir;
  }();
  return folder;
}

std::string NodePath(const char* node) { return NodeFolder() + "/" + node; }

hid_device_info* NewInfo(const BusEntry& entry) {
  auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
  info->path = entry.path != nullptr ? strdup(NodePath(entry.path).c_str()) : nullptr;
  info->vendor_id = entry.vendorId;
  info->product_id = entry.productId;
  info->release_number = entry.release;
  info->bus_type = HID_API_BUS_USB;
  info->serial_number = entry.serial != nullptr ? wcsdup(entry.serial) : nullptr;
  return info;
}

}  // namespace

StandinDevice& StandinDevice::Instance() {
  static StandinDevice device;
  return device;
}

StandinDevice::StandinDevice() { Reset(); }

void StandinDevice::Reset() {
  for (hid_device* handle : handles) delete handle;
  handles.clear();
  chip = std::make_unique<emu::OtpChip>(kGoodPart, emu::ChipSizeForCode(kGoodPart[2]));
  programmer = std::make_unique<emu::EmulatedProgrammer>(*chip);
  chipFile.Close();
  faults.Clear();
  lateReply.reset();
  initialised = unplugged = silent = interruptNextRead = lastReadInterrupted = readEnded = false;
  opensSinceInit = 0;
  record = Qs71StandinRecord{};
  violations.clear();
}

bool StandinDevice::AddFaults(const std::string& text) {
  std::vector<Fault> parsed;
  if (!ParseFaults(text, parsed)) return false;
  faults.Add(parsed);
  return true;
}

// Each broken rule once, however often the caller breaks it.
void StandinDevice::Violate(const std::string& text) {
  if (violations.find(text + "\n") == std::string::npos) violations += text + "\n";
}

void StandinDevice::CheckInitialised(const char* call) {
  if (!initialised) Violate(std::string(call) + " outside hid_init .. hid_exit");
}

bool StandinDevice::Known(hid_device* handle, const char* call) {
  CheckInitialised(call);
  if (handles.count(handle) != 0) return true;
  Violate(std::string(call) + " on a handle that is not open");
  errno = EBADF;
  return false;
}

int StandinDevice::Init() {
  if (faults.Has(FaultKind::kInitFails)) return -1;
  if (initialised) Violate("hid_init while hidapi is initialised");
  initialised = true;
  opensSinceInit = 0;
  ++record.inits;
  return 0;
}

int StandinDevice::Exit() {
  if (!initialised) Violate("hid_exit without hid_init");
  if (!handles.empty()) Violate("hid_exit with handles open");
  if (record.openEnumerations != 0) Violate("hid_exit with an enumeration not freed");
  initialised = false;
  ++record.exits;
  return 0;
}

hid_device_info* StandinDevice::Enumerate(unsigned short vendorId, unsigned short productId) {
  CheckInitialised("hid_enumerate");
  hid_device_info* first = nullptr;
  hid_device_info** next = &first;
  for (const BusEntry& entry : kBus) {
    if (entry.isProgrammer && unplugged) continue;
    if (vendorId != 0 && vendorId != entry.vendorId) continue;
    if (productId != 0 && productId != entry.productId) continue;
    *next = NewInfo(entry);
    next = &(*next)->next;
  }
  if (first != nullptr) ++record.openEnumerations;
  return first;
}

void StandinDevice::FreeEnumeration(hid_device_info* list) {
  if (list == nullptr) return;
  --record.openEnumerations;
  while (list != nullptr) {
    hid_device_info* next = list->next;
    std::free(list->path);
    std::free(list->serial_number);
    std::free(list);
    list = next;
  }
}

// Between enumeration and open the programmer may be unplugged, or a second open refused.
bool StandinDevice::OpenRefused() {
  ++opensSinceInit;
  return unplugged || faults.Has(FaultKind::kOpenFails) ||
         (opensSinceInit == 2 && faults.Has(FaultKind::kSecondOpenFails));
}

hid_device* StandinDevice::Open(const char* path) {
  CheckInitialised("hid_open_path");
  if (path == nullptr || NodePath(kProgrammerNode) != path) {
    Violate(std::string("opened ") + (path != nullptr ? path : "(null)") +
            ", which is not the programmer");
    errno = ENOENT;
    return nullptr;
  }
  if (OpenRefused()) {
    errno = ENOENT;
    return nullptr;
  }
  if (handles.empty()) LoadSharedChip();
  hid_device* handle = new hid_device_();
  handles.insert(handle);
  record.openHandles = static_cast<uint32_t>(handles.size());
  return handle;
}

void StandinDevice::Close(hid_device* handle) {
  if (!Known(handle, "hid_close")) return;
  handles.erase(handle);
  delete handle;
  record.openHandles = static_cast<uint32_t>(handles.size());
}

// With QS71_STANDIN_OTP the chip lives in that file, as the emulated programmer keeps it in
// its chip file, so that processes of different users meet one part: read afresh whenever
// the programmer is opened, and every request's changes written through.
void StandinDevice::LoadSharedChip() {
  const char* shared = std::getenv("QS71_STANDIN_OTP");
  if (shared == nullptr || *shared == '\0') return;
  chipFile.Close();
  std::string error;
  if (!chipFile.Attach(shared, *chip, error)) Violate("QS71_STANDIN_OTP: " + error);
}

// Every open file gets its own copy of each input report, as long as its ring has room.
void StandinDevice::Deliver(const InputReport& report) {
  for (hid_device* handle : handles) {
    if (handle->queue.size() < kQueueDepth) handle->queue.push_back(report);
  }
}

// A reply the programmer was late with arrives before it answers anything else.
void StandinDevice::TakeReport(const unsigned char* request, FaultHits hits) {
  ++record.requests[request[0]];
  if (lateReply) Deliver(*lateReply);
  lateReply.reset();
  silent = silent || hits.Has(FaultKind::kSilent);
  if (hits.Has(FaultKind::kUnplugAwaited)) unplugged = true;
  InputReport reply;
  const bool answered = !unplugged && !silent && programmer->Handle(request, reply.bytes.data());
  if (!chipFile.Store(*chip)) Violate("QS71_STANDIN_OTP: a change not written through");
  if (!answered) return;
  if (hits.Has(FaultKind::kShortReport)) reply.length = kShortReportBytes;
  if (hits.Has(FaultKind::kLateReply)) {
    lateReply = reply;
    return;
  }
  Deliver(reply);
  if (hits.Has(FaultKind::kDuplicateReply)) Deliver(reply);
  if (hits.Has(FaultKind::kInterrupt)) interruptNextRead = true;
}

// hidraw refuses what is not a whole report; a pulled programmer fails the write with ENODEV
// and a stalled one with the USB core's time-out.
int StandinDevice::Write(hid_device* handle, const unsigned char* data, size_t length) {
  if (!Known(handle, "hid_write")) return -1;
  readEnded = false;
  if (length != kReportBlock || data[0] != 0x00) {
    Violate("hid_write of " + std::to_string(length) + " bytes with report ID " +
            std::to_string(length != 0 ? data[0] : -1));
    errno = EINVAL;
    return -1;
  }
  if (unplugged) {
    errno = ENODEV;
    return -1;
  }
  const FaultHits hits = faults.OnReport(data[1]);
  unplugged = hits.Has(FaultKind::kUnplug);
  if (unplugged || hits.Has(FaultKind::kWriteStall)) {
    errno = unplugged ? ENODEV : ETIMEDOUT;
    return -1;
  }
  TakeReport(data + 1, hits);
  return static_cast<int>(kReportBlock);
}

// Reported at once instead of after the wait, so no test sits out ten seconds; only a read
// that asked for the full ten seconds may be told, or one taken up again after EINTR.
int StandinDevice::TimeOut(int milliseconds, bool retry) {
  if (milliseconds != kTransferTimeoutMs && !retry) {
    Violate("a time-out for a read that asked " + std::to_string(milliseconds) + " ms");
  }
  ++record.timeouts;
  readEnded = true;
  return 0;
}

// The time-out came at once, and an unplug leaves errno as it was, so a caller that polls on
// after either would spin for its ten seconds; it is told the device failed instead (EIO, so
// that even a stale EINTR lets go), and the test ends at once.
int StandinDevice::PolledAgain() {
  Violate("hid_read_timeout again after a time-out or an unplug, with nothing written between");
  errno = EIO;
  return -1;
}

int StandinDevice::Deliver(hid_device* handle, unsigned char* data, size_t length) {
  const InputReport report = handle->queue.front();
  handle->queue.pop_front();
  const size_t copied = std::min(length, report.length);
  std::memcpy(data, report.bytes.data(), copied);
  return static_cast<int>(copied);
}

// hidapi reports an unplug as -1 without touching errno (poll said POLLHUP), and a signal
// during the poll as -1 with EINTR.
int StandinDevice::Read(hid_device* handle, unsigned char* data, size_t length,
                        int milliseconds) {
  if (!Known(handle, "hid_read_timeout")) return -1;
  if (length != kReplyBytes) Violate("hid_read_timeout into " + std::to_string(length) + " bytes");
  if (milliseconds <= 0 || milliseconds > kTransferTimeoutMs) {
    Violate("hid_read_timeout asked " + std::to_string(milliseconds) + " ms");
  }
  if (readEnded) return PolledAgain();
  const bool retry = lastReadInterrupted;
  lastReadInterrupted = false;
  readEnded = unplugged;
  if (unplugged) return -1;
  if (interruptNextRead) {
    interruptNextRead = false;
    lastReadInterrupted = true;
    ++record.interrupts;
    errno = EINTR;
    return -1;
  }
  if (handle->queue.empty()) return TimeOut(milliseconds, retry);
  return Deliver(handle, data, length);
}

}  // namespace qs71::standin
