#include "emulated_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "hardware_id.h"
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

std::string Describe(const OtpChip& chip) {
  const ChipId& id = chip.Id();
  return Format("emulated programmer attached: chip ID %02X %02X %02X %02X, %u bytes", id[0],
                id[1], id[2], id[3], chip.Size());
}

}  // namespace

std::unique_ptr<EmulatedDevice> EmulatedDevice::Attach(const std::string& pattern) {
  LastSession().Reset();
  EmulatorSettings settings;
  std::string error;
  if (!CurrentSettings(settings, error)) {
    Complain(error);
    return nullptr;
  }
  if (FaultPlan(settings.faults).Has(FaultKind::kNoDevice)) return nullptr;
  if (!MatchesHardwareId(settings.hardwareIds, pattern)) return nullptr;
  std::unique_ptr<EmulatedDevice> device(new EmulatedDevice(settings));
  if (!device->AttachOtpFile()) return nullptr;
  if (!settings.transcript.empty() && !device->transcript.Open(settings.transcript)) {
    Complain("cannot append to transcript " + settings.transcript);
  }
  device->transcript.Comment(Describe(device->chip));
  return device;
}

EmulatedDevice::EmulatedDevice(const EmulatorSettings& chosen)
    : settings(chosen),
      chip(chosen.id, ChipSizeForCode(chosen.id[2])),
      programmer(chip),
      faults(chosen.faults) {
  for (const auto& [cell, value] : settings.presets) chip.Preset(cell, value);
  for (const Fault& fault : settings.faults) {
    if (fault.kind == FaultKind::kStuckCell) chip.SetStuckBits(fault.count, fault.value);
  }
}

EmulatedDevice::~EmulatedDevice() {
  LastSession().otp = chip.Cells();
  transcript.Comment("emulated programmer detached");
}

// A missing file is a fresh part; one of another size is refused, since it is most likely
// an image given by mistake and must not be overwritten. The presets are cells as the
// factory made them, so they reach the file too.
bool EmulatedDevice::AttachOtpFile() {
  if (settings.otpFile.empty()) return true;
  std::string error;
  if (!otpFile.Attach(settings.otpFile, chip, error)) {
    Complain(error);
    return false;
  }
  for (const auto& [cell, value] : settings.presets) chip.Preset(cell, value);
  StoreChip();
  return true;
}

// After every request, so that the file never lags behind the part by more than the one
// report being taken.
void EmulatedDevice::StoreChip() {
  if (otpFile.Store(chip) || otpFileFailed) return;
  otpFileFailed = true;
  Complain("cannot write the chip through to " + settings.otpFile);
}

bool EmulatedDevice::OpenWrite() const { return !faults.Has(FaultKind::kWriteOpenFails); }

bool EmulatedDevice::OpenRead() const { return !faults.Has(FaultKind::kReadOpenFails); }

void EmulatedDevice::Record(const uint8_t* request) const {
  SessionRecord& record = LastSession();
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

bool EmulatedDevice::Write(const uint8_t* block) {
  // Unnumbered reports only: anything but report ID 0 is refused by the driver.
  if (faults.Disconnected() || block[0] != 0x00) return false;
  const uint8_t* request = block + 1;
  const RequestFaults hit = faults.OnRequest(request[0]);
  if (hit.writeFails) return false;
  KeepPace();
  Record(request);
  transcript.Request(request);
  std::array<uint8_t, 64> reply;
  const bool answered = programmer.Handle(request, reply.data());
  StoreChip();
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
  SessionRecord& record = LastSession();
  ++record.replies;
  record.lastReply = replies.front();
  replies.pop_front();
  return true;
}

SessionRecord& LastSession() {
  static SessionRecord record;
  return record;
}

}  // namespace qs71::emu
