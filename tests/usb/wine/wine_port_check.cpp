// The production DLL's Windows port under Wine, end to end without hardware. Its SetupAPI
// imports are pointed at a fake bus (decoys, and a programmer that vanishes while it is being
// looked up); its device path leads to a named pipe served by the emulated programmer, so
// every transfer is Wine's own overlapped I/O on handles the DLL opened itself. Only time is
// faked: a transfer that would never end is told at once that its ten seconds are up.
//
//   qs71_wine_port_check LIBRARY FOLDER      FOLDER takes the image and the captured output
// Prints "ok: ROW" or "FAILED: ROW: why" per row; exit code 0 when every row is ok.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fake_setupapi.h"
#include "kernel_hooks.h"
#include "pipe_programmer.h"
#include "qs71_usb_writer_binding.h"
#include "system_area.h"

namespace qs71::wine {
namespace {

constexpr uint32_t kSize = 262144;
const char* const kProgrammerIds = "HID\\VID_04D8&PID_FE08&REV_0101|HID\\VID_04D8&PID_FE08";

const std::vector<BusEntry> kNoProgrammer = {
    {"HID\\VID_046D&PID_C52B&REV_1201|HID\\VID_046D&PID_C52B", Presence::kPresent, false},
    {"HID\\VID_04D8&PID_FE08&REV_0102|HID\\VID_04D8&PID_FE08", Presence::kPresent, false},
    {kProgrammerIds, Presence::kGoneBeforeDetail, true},
    {kProgrammerIds, Presence::kGoneDuringDetail, true},
};

std::vector<BusEntry> WithProgrammer() {
  std::vector<BusEntry> bus = kNoProgrammer;
  bus.push_back({kProgrammerIds, Presence::kPresent, true});
  return bus;
}

const std::string kNotStarted = "Failed to start OTP test!! (-20)\n";
const std::string kNotStopped = "Failed to stop OTP test!! (-20)\n";
const std::string kStopped = "The OTP test stopped.\n";

struct Row {
  const char* name;
  PipeFault fault;
  bool programmerOnBus;
  int result;
  uint32_t timeouts;
  std::vector<std::string> messages;  // printed in this order, among others
  // Qs71UsbWriter on the first programmer found, Qs71UsbWriterOn on the programmer's device
  // path, Qs71UsbJob on that path with the image in memory, or Qs71UsbJob on the device as
  // Qs71UsbListIdentities names it (its instance ID, from SetupAPI).
  enum Via { kFirstFound, kByPath, kJob, kIdentity } via = kFirstFound;
};

const Row kRows[] = {
    {"blank check, write and verify", {}, true, 0, 0,
     {"OTP blank check complete.\n", "Write OTP complete.\n", "Verify OTP complete.\n", kStopped}},
    {"the same on the programmer named by its path", {}, true, 0, 0,
     {"OTP blank check complete.\n", "Write OTP complete.\n", "Verify OTP complete.\n", kStopped},
     Row::kByPath},
    {"the job call with the image in memory", {}, true, 0, 0,
     {"OTP blank check complete.\n", "Import File: image.bin\n", "Write OTP complete.\n",
      "Verify OTP complete.\n", kStopped},
     Row::kJob},
    {"the job call on the device its instance ID names", {}, true, 0, 0,
     {"OTP blank check complete.\n", "Import File: image.bin\n", "Write OTP complete.\n",
      "Verify OTP complete.\n", kStopped},
     Row::kIdentity},
    {"no programmer on the bus", {}, false, -20, 0, {kNotStarted, kNotStopped}},
    {"silent from the write's end", {PipeFault::kSilent, 0x75}, true, -20, 2,
     {"[ERROR] Fail to write OTP data! (-20)\n", kNotStopped}},
    // A read that ends with the unplug's error is a failed read, not 65 zero bytes (-30).
    {"unplugged while the ID read waits", {PipeFault::kUnplug, 0x72}, true, -20, 0,
     {"Failed to get OTP ID 0x00, 0x00, 0x00, 0x00!! (-20)\n", kNotStopped}},
    {"a short ID report", {PipeFault::kShortReport, 0x72}, true, -20, 0,
     {"Failed to get OTP ID 0x00, 0x00, 0x00, 0x00!! (-20)\n", kStopped}},
};

// The DLL prints through the C runtime it shares with this program; its output goes to a
// file for as long as the object lives.
class CapturedStdout {
 public:
  explicit CapturedStdout(const std::string& file) : path(file) {
    std::fflush(stdout);
    saved = _dup(1);
    const int target = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    _dup2(target, 1);
    _close(target);
  }
  ~CapturedStdout() { Restore(); }
  std::string Text() {
    Restore();
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  void Restore() {
    if (saved < 0) return;
    std::fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    saved = -1;
  }
  std::string path;
  int saved = -1;
};

// A part's own system area after masking, behind seeded bytes: what a fresh part accepts.
std::vector<uint8_t> ImageFor(const std::vector<uint8_t>& freshCells) {
  std::vector<uint8_t> image(freshCells.size());
  uint32_t state = 21;
  for (uint8_t& b : image) b = static_cast<uint8_t>((state = state * 1103515245 + 12345) >> 16);
  std::vector<uint8_t> systemArea(freshCells.end() - kSystemAreaSize, freshCells.end());
  MaskSystemArea(systemArea);
  std::copy(systemArea.begin(), systemArea.end(), image.end() - kSystemAreaSize);
  return image;
}

std::string Missing(const std::string& output, const std::vector<std::string>& messages) {
  size_t from = 0;
  for (const std::string& message : messages) {
    const size_t at = output.find(message, from);
    if (at == std::string::npos) return "missing or out of order: " + message;
    from = at + message.size();
  }
  return "";
}

struct Call {
  int result = 0;
  std::string output;
  bool holdsImage = false;  // every cell is the fresh part's AND the image's
  std::string violations;
};

bool HoldsImage(const std::vector<uint8_t>& fresh, const std::vector<uint8_t>& image,
                const std::vector<uint8_t>& chip) {
  for (size_t i = 0; i < chip.size(); ++i) {
    if (chip[i] != (fresh[i] & image[i])) return false;
  }
  return chip.size() == image.size();
}

void QS71_CDECL AppendText(void* context, const char* text) {
  *static_cast<std::string*>(context) += text;
}

// The programmer at path as Qs71UsbListIdentities lists it; false when it is not listed, or
// without the instance ID the fake bus gives its device.
bool IdentityAt(const WriterBinding& calls, const std::string& path,
                Qs71ProgrammerIdentity& identity) {
  Qs71ProgrammerIdentity list[8] = {};
  const int32_t count = calls.listIdentities(list, 8);
  for (int32_t i = 0; i < count && i < 8; ++i) {
    if (_stricmp(list[i].info.path, path.c_str()) != 0) continue;
    identity = list[i];
    return std::string(identity.node).rfind("HID\\VID_04D8&PID_FE08\\7&FAKE&0&", 0) == 0;
  }
  return false;
}

// The job call as a host that read the image makes it: the bytes, named for the text; by the
// device's identity when asked.
int32_t RunJob(const WriterBinding& calls, const std::string& programmer,
               const std::vector<uint8_t>& image, std::string& output, bool byIdentity) {
  Qs71ProgrammerIdentity identity{};
  if (byIdentity && !IdentityAt(calls, programmer, identity)) {
    output += "not listed with its instance ID\n";
    return QS71_E_TRANSPORT;
  }
  Qs71JobRequest request{};
  request.size = sizeof request;
  request.programmer = programmer.c_str();
  request.identity = byIdentity ? &identity : nullptr;
  request.blankCheck = request.write = request.verify = 1;
  request.blankCheckVdd = request.verifyVdd = 5.0;
  request.writeVdd = 5.5;
  request.writeVpp = 6.5;
  request.image = image.data();
  request.imageLength = static_cast<uint32_t>(image.size());
  request.output = AppendText;
  request.context = &output;
  request.imageName = "image.bin";
  Qs71JobResult result{};
  result.size = sizeof result;
  return calls.job(&request, &result);
}

Call Run(const WriterBinding& calls, const Row& row, const std::string& folder, int index) {
  const std::string pipe = "\\\\.\\pipe\\qs71-wine-check-" + std::to_string(GetCurrentProcessId()) +
                           "-" + std::to_string(index);
  PipeProgrammer programmer(pipe, row.fault);
  const std::vector<uint8_t> fresh = programmer.Cells();
  const std::vector<uint8_t> image = ImageFor(fresh);
  const std::string imagePath = folder + "\\image.bin";
  std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                   static_cast<std::streamsize>(image.size()));
  SetFakeBus(row.programmerOnBus ? WithProgrammer() : kNoProgrammer, pipe);
  WatchTransfers(&programmer);
  Call call;
  int32_t stage = -1, progress = -1, otpSize = -1;
  CapturedStdout captured(folder + "\\output.txt");
  std::string given;
  if (row.via == Row::kJob || row.via == Row::kIdentity) {
    call.result = RunJob(calls, pipe, image, given, row.via == Row::kIdentity);
  } else if (row.via == Row::kByPath) {
    call.result = calls.writerOn(pipe.c_str(), nullptr, nullptr, &stage, &progress, &otpSize, 1,
                                 5.0, 1, 5.5, 6.5, 1, 5.0, 0, imagePath.c_str());
  } else {
    call.result = calls.writer(&stage, &progress, &otpSize, 1, 5.0, 1, 5.5, 6.5, 1, 5.0, 0,
                               imagePath.c_str());
  }
  call.output = captured.Text() + given;
  StopWatching();
  call.holdsImage = HoldsImage(fresh, image, programmer.Cells());
  call.violations = programmer.Violations();
  return call;
}

// Empty when the row came out as expected, else why not.
std::string Verdict(const Row& row, const Call& call, const TransferRecord& transfers) {
  const uint32_t opens = row.programmerOnBus ? 2 : 0;
  if (call.result != row.result) return "result " + std::to_string(call.result);
  if (const std::string missing = Missing(call.output, row.messages); !missing.empty()) {
    return missing;
  }
  if (row.result == 0 && !call.holdsImage) return "the chip does not hold the image";
  if (!call.violations.empty()) return call.violations;
  if (!transfers.violations.empty()) return transfers.violations;
  if (transfers.timeouts != row.timeouts) return std::to_string(transfers.timeouts) + " time-outs";
  if (transfers.cancels != transfers.timeouts) return "a timed-out transfer was not cancelled";
  if (transfers.opens != opens || transfers.closes != opens) return "handles not opened and closed";
  if (FakeSetsOpen() != 0) return "a device-information set was not destroyed";
  return "";
}

// The listing walks the same fake bus: only the programmer carries its hardware ID and is
// still there when asked, and it describes itself through the HID class driver's calls.
std::string ListingVerdict(Qs71UsbListProgrammersFunction list) {
  PipeProgrammer programmer("\\\\.\\pipe\\qs71-wine-list-" +
                                std::to_string(GetCurrentProcessId()),
                            {});
  SetFakeBus(WithProgrammer(), programmer.Path());
  WatchTransfers(&programmer);
  Qs71ProgrammerInfo found[2] = {};
  const int32_t count = list == nullptr ? -1 : list(found, 2);
  StopWatching();
  if (count != 1) return "listed " + std::to_string(count) + " programmers";
  if (programmer.Path() != found[0].path) return std::string("path ") + found[0].path;
  if (std::string(found[0].serial) != "QS71-\xC3\x84-7") {
    return std::string("serial ") + found[0].serial;
  }
  if (found[0].release != 0x0101) return "release " + std::to_string(found[0].release);
  if (DescriptionHandlesOpen() != 0) return "a handle that asked the programmer stayed open";
  if (Transfers().opens != 0) return "the listing opened the programmer for transfers";
  if (FakeSetsOpen() != 0) return "a device-information set was not destroyed";
  return "";
}

}  // namespace
}  // namespace qs71::wine

int main(int argc, char** argv) {
  using namespace qs71::wine;
  if (argc < 3) {
    std::printf("usage: qs71_wine_port_check LIBRARY FOLDER\n");
    return 2;
  }
  HMODULE library = LoadLibraryA(argv[1]);
  if (library == nullptr || !PatchSetupApi(library) || !PatchKernelCalls(library)) {
    std::printf("FAILED: %s cannot be loaded and watched\n", argv[1]);
    return 1;
  }
  qs71::WriterBinding calls;
  calls.Bind([&](const char* name) { return GetProcAddress(library, name); });
  if (!calls.Complete()) {
    std::printf("FAILED: %s lacks some of the library's calls\n", argv[1]);
    return 1;
  }
  int failures = 0;
  int index = 0;
  for (const Row& row : kRows) {
    const Call call = Run(calls, row, argv[2], index++);
    const std::string why = Verdict(row, call, Transfers());
    if (why.empty()) std::printf("ok: %s\n", row.name);
    else std::printf("FAILED: %s: %s\n%s", row.name, why.c_str(), call.output.c_str());
    failures += why.empty() ? 0 : 1;
  }
  const std::string listing = ListingVerdict(calls.listProgrammers);
  if (listing.empty()) std::printf("ok: the programmer listed\n");
  else std::printf("FAILED: the programmer listed: %s\n", listing.c_str());
  failures += listing.empty() ? 0 : 1;
  ++index;
  std::printf("wine port check: %d of %d rows failed\n", failures, index);
  return failures == 0 ? 0 : 1;
}
