#include "emulated_device.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "emulated_bus.h"
#include "emulated_socket.h"
#include "file_lock.h"
#include "file_system.h"
#include "hardware_id.h"
#include "hold_record.h"
#include "qs71_usb_writer.h"
#include "session_record.h"
#include "text_format.h"  // Format

namespace qs71::emu {

namespace {

// The emulator is a test and dry-run tool: when its settings are unusable it says so on
// standard error rather than leaving the user with a bare "no device".
void Complain(const std::string& text) {
  std::fprintf(stderr, "qs71 emulator: %s\n", text.c_str());
}

bool MatchesHardwareId(const std::string& ids, const std::string& pattern) {
  std::string list = ids;
  std::replace(list.begin(), list.end(), '|', '\0');
  return HardwareIdMatches(FirstHardwareId(list.data(), list.size()), pattern);
}

// With several programmers the transcript's comments say which one attached.
std::string Describe(const OtpChip& chip, const EmulatorSettings& settings, int programmer) {
  const ChipId& id = chip.Id();
  const std::string who =
      settings.programmers > 1 ? ProgrammerPath(programmer) + " " : std::string();
  return Format("emulated programmer %sattached: chip ID %02X %02X %02X %02X, %u bytes",
                who.c_str(), id[0], id[1], id[2], id[3], chip.Size());
}

// What an empty socket answers to the ID request: nothing drives the lines.
constexpr ChipId kEmptySocketId = {0xFF, 0xFF, 0xFF, 0xFF};

// A part's own faults, in the syntax of QS71_EMU_FAULTS, commas or white space between them;
// none when it has no faults file.
bool AddPartFaults(const std::string& part, std::vector<Fault>& faults) {
  const std::string path = FaultsFileOf(part);
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (char& c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) c = ',';
  }
  std::string error;
  if (ParseFaults(text, faults, error)) return true;
  Complain(path + ": " + error);
  return false;
}

// Each programmer keeps the record of its last call; the control interface shows that of
// the programmer whose call began last, read after the calls. A host's jobs on one programmer
// do not overlap, but its holds may come from any thread at any time, and each opens the
// programmer as a call does: the records are written under one lock.
std::array<SessionRecord, kMaxProgrammers + 1> sessions;
std::atomic<int> lastProgrammer{1};
std::mutex sessionLock;

SessionRecord& SessionOf(int programmer) { return sessions[static_cast<size_t>(programmer)]; }

void StartSession(int programmer) {
  std::lock_guard<std::mutex> hold(sessionLock);
  SessionOf(programmer).Reset();
  lastProgrammer = programmer;
}

}  // namespace

std::unique_ptr<EmulatedDevice> EmulatedDevice::Attach(const std::string& pattern,
                                                       const std::string& path) {
  EmulatorSettings settings;
  std::string error;
  std::vector<BusEntry> bus;
  if (!CurrentSettings(settings, error) ||
      !BusEntries(settings.bus, settings.programmers, bus, error)) {
    Complain(error);
    return nullptr;
  }
  const BusEntry* entry = EntryOfPath(bus, path);
  if (entry == nullptr) return nullptr;
  const int programmer = entry->programmer;
  StartSession(programmer);
  if (FaultPlan(settings.faults).Has(FaultKind::kNoDevice)) return nullptr;
  if (!MatchesHardwareId(settings.hardwareIds, pattern)) return nullptr;
  const std::vector<Fault> common = settings.faults;
  std::string part;
  if (!TakeSocketPart(settings, programmer, part)) return nullptr;
  if (FaultPlan(settings.faults).Has(FaultKind::kNoDevice)) return nullptr;  // the part's own
  std::unique_ptr<EmulatedDevice> device(new EmulatedDevice(settings, programmer));
  device->listedPath = entry->path;
  device->listedNode = entry->Node();
  device->listedSerial = entry->serial;
  device->part = part;
  device->commonFaults = common;
  if (!settings.socket.empty()) device->socketFolder = SocketFolderOf(settings, programmer);
  return device;
}

bool EmulatedDevice::List(const std::string& pattern, std::vector<Listed>& found) {
  found.clear();
  EmulatorSettings settings;
  std::string error;
  if (!CurrentSettings(settings, error)) {
    Complain(error);
    return true;
  }
  if (FaultPlan(settings.faults).Has(FaultKind::kNoDevice)) return true;
  if (!MatchesHardwareId(settings.hardwareIds, pattern)) return true;
  std::vector<BusEntry> bus;
  if (!BusEntries(settings.bus, settings.programmers, bus, error)) {
    Complain(error);
    return true;
  }
  for (const BusEntry& entry : bus) {
    found.push_back({entry.path, entry.serial, kEmulatedRelease, entry.Node()});
  }
  return true;
}

// A programmer with a socket holds the socket's part, kept in the part's file and showing
// its faults besides the common ones, or, with the socket empty, nothing. Without a socket
// the OTP file is the first programmer's chip; the others get a fresh chip every call.
bool EmulatedDevice::TakeSocketPart(EmulatorSettings& settings, int programmer,
                                    std::string& part) {
  const SocketContent content = OpenSocket(programmer, SocketFolderOf(settings, programmer));
  if (!content.socket) {
    if (programmer != 1) settings.otpFile.clear();
    return true;
  }
  part = content.part;
  if (part.empty()) {
    settings.id = kEmptySocketId;
    settings.otpFile.clear();
    settings.presets.clear();
    return true;
  }
  settings.otpFile = part;
  return AddPartFaults(part, settings.faults);
}

EmulatedDevice::EmulatedDevice(const EmulatorSettings& chosen, int programmerNumber)
    : settings(chosen),
      number(programmerNumber),
      chip(chosen.id, ChipSizeForCode(chosen.id[2])),
      programmer(chip),
      faults(chosen.faults) {
  for (const auto& [cell, value] : settings.presets) chip.Preset(cell, value);
  for (const Fault& fault : settings.faults) {
    if (fault.kind == FaultKind::kStuckCell) chip.SetStuckBits(fault.count, fault.value);
  }
}

EmulatedDevice::~EmulatedDevice() {
  {
    std::lock_guard<std::mutex> hold(sessionLock);
    SessionOf(number).otp = chip.Cells();
  }
  transcript.Comment("emulated programmer detached");
}

// The no-hold fault attaches the part as a library that lost track of its hold would reach
// it: without a hold, which the hold record (hold_record.h) then tells.
HoldResult EmulatedDevice::Hold(HeldShares& shares) {
  const bool holding = !faults.Has(FaultKind::kNoHold);
  if (holding && kFoldersLock && !socketFolder.empty()) {
    const HoldResult folder = HoldFile(socketFolder, shares);
    if (folder.code != 0) return folder;
  }
  return AttachOtpFile(shares, holding);
}

std::string EmulatedDevice::Path() const { return listedPath; }

// A missing file is a fresh part, created whole under the scratch's own lock and held from
// the moment it has its name; an existing one is held before it is read. One of another size
// is refused, since it is most likely an image given by mistake and must not be overwritten.
// The presets are cells as the factory made them, so they reach the file too, once it is
// held.
HoldResult EmulatedDevice::AttachOtpFile(HeldShares& shares, bool holding) {
  if (settings.otpFile.empty()) return HoldResult{};
  std::error_code ignored;
  const bool existed = std::filesystem::exists(settings.otpFile, ignored);
  std::string heldNode;
  if (existed && holding) {
    const HoldResult held = HoldFile(settings.otpFile, shares, &heldNode);
    if (held.code != 0) return held;
  }
  std::string error;
  // A chip file is made under a lock of its own, on a descriptor no holds' table knows: a
  // child forked meanwhile would keep that lock for as long as it lives, on the file the
  // parent holds next. Forks wait for the records' lock (HidPortLockForFork).
  std::unique_lock<std::mutex> noFork(sessionLock);
  const bool attached = otpFile.Attach(settings.otpFile, chip, error, !part.empty());
  noFork.unlock();
  if (!attached) {
    if (!otpFile.Creator().empty()) return HoldResult{QS71_E_BUSY, otpFile.Creator()};
    return HoldResult{QS71_E_TRANSPORT, "No programmer: the emulated part: " + error};
  }
  // An empty file is a new part, made whole under a new inode in its place: the hold taken
  // on the empty one would not cover it.
  const bool replaced =
      existed && NodeIdentityOf(IdentifyFile(settings.otpFile.c_str())) != heldNode;
  if ((!existed || replaced) && holding) {
    const HoldResult held = HoldFile(settings.otpFile, shares);
    if (held.code != 0) return held;
  }
  for (const auto& [cell, value] : settings.presets) chip.Preset(cell, value);
  return StoreChip() ? HoldResult{}
                     : HoldResult{QS71_E_TRANSPORT, "No programmer: the emulated part: cannot "
                                                    "write the chip through to " +
                                                        settings.otpFile};
}

// After every request, so that the file never lags behind the part by more than the one
// report being taken. A request whose cells did not reach the file fails as a report that
// was not written: the host must not take for programmed what the part does not keep.
bool EmulatedDevice::StoreChip() {
  if (otpFile.Store(chip)) return true;
  if (!otpFileFailed) Complain("cannot write the chip through to " + settings.otpFile);
  otpFileFailed = true;
  return false;
}

void EmulatedDevice::AnnounceJob(PartUse use) {
  if (AnnounceToSocket(number, part, use, settings.operatorSeconds)) EmptySocket();
}

// The part has left: its file keeps it as the last request left it, and the programmer now
// answers as an empty socket does, without the part's faults.
void EmulatedDevice::EmptySocket() {
  otpFile.Close();
  part.clear();
  chip = OtpChip(kEmptySocketId, ChipSizeForCode(kEmptySocketId[2]));
  faults = FaultPlan(commonFaults);
  transcript.Comment("the part left the socket");
}

// The transcript starts with the first handle: a call refused its hold leaves no trace in it.
bool EmulatedDevice::OpenWrite() {
  if (!described) {
    described = true;
    const bool shared = settings.programmers > 1;
    if (!settings.transcript.empty() && !transcript.Open(settings.transcript, shared)) {
      Complain("cannot append to transcript " + settings.transcript);
    }
    transcript.Comment(Describe(chip, settings, number));
  }
  return !faults.Has(FaultKind::kWriteOpenFails);
}

bool EmulatedDevice::OpenRead() const { return !faults.Has(FaultKind::kReadOpenFails); }

void EmulatedDevice::Record(const uint8_t* request) const {
  std::lock_guard<std::mutex> hold(sessionLock);
  SessionRecord& record = SessionOf(number);
  ++record.requests[request[0]];
  ++record.totalRequests;
  std::memcpy(record.lastRequest.data(), request, 64);
}

// A real programmer answers one report per USB frame; with a pace the emulated one takes as
// long on average, so that a dry run shows a transfer in progress. It sleeps only once it is
// a millisecond ahead, since a sleep costs more than a request.
void EmulatedDevice::KeepPace() {
  if (settings.paceMicros == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (paced++ == 0) pacedFrom = now;
  const auto due = pacedFrom + std::chrono::microseconds(settings.paceMicros) * paced;
  if (due - now >= std::chrono::milliseconds(1)) std::this_thread::sleep_until(due);
}

// Once per call, at its first request: the files the part is kept in must be held by this
// process by now.
void EmulatedDevice::CheckHold() {
  if (holdChecked || settings.holdRecord.empty()) return;
  holdChecked = true;
  std::vector<std::string> files = {otpFile.Attached() ? settings.otpFile : ""};
  if (kFoldersLock) files.push_back(socketFolder);
  const std::vector<std::string> unheld = UnheldFiles(files);
  if (!unheld.empty() && !RecordUnheldCall(settings.holdRecord, number, listedPath, unheld)) {
    Complain("cannot append to the hold record " + settings.holdRecord);
  }
}

bool EmulatedDevice::Write(const uint8_t* block) {
  // Unnumbered reports only: anything but report ID 0 is refused by the driver.
  if (faults.Disconnected() || block[0] != 0x00) return false;
  CheckHold();
  const uint8_t* request = block + 1;
  const RequestFaults hit = faults.OnRequest(request[0]);
  if (hit.writeFails) return false;
  KeepPace();
  Record(request);
  transcript.Request(request);
  std::array<uint8_t, 64> reply;
  const bool answered = programmer.Handle(request, reply.data());
  if (!StoreChip()) return false;
  if (answered && !hit.noReply) {
    hit.ApplyTo(reply.data());
    replies.push_back(reply);
  }
  return true;
}

// A reply that never comes fails here at once, where the real port would wait its ten
// seconds; nothing is left pending on the caller's block either way.
bool EmulatedDevice::Read(uint8_t* block) {
  if (replies.empty()) return false;
  block[0] = 0x00;
  std::memcpy(block + 1, replies.front().data(), 64);
  transcript.Reply(replies.front().data());
  {
    std::lock_guard<std::mutex> hold(sessionLock);
    SessionRecord& record = SessionOf(number);
    ++record.replies;
    record.lastReply = replies.front();
  }
  replies.pop_front();
  return true;
}

SessionRecord& LastSession() { return SessionOf(lastProgrammer); }

void LockSessionsForFork() { sessionLock.lock(); }
void UnlockSessionsAfterFork() { sessionLock.unlock(); }

void ResetSessions() {
  std::lock_guard<std::mutex> hold(sessionLock);
  for (SessionRecord& record : sessions) record.Reset();
  lastProgrammer = 1;
}

}  // namespace qs71::emu
