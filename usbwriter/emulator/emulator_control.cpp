// The exported control interface of the emulated library.
#include "qs71_emulator_control.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "emulated_bus.h"
#include "emulated_socket.h"
#include "emulator_settings.h"
#include "session_record.h"

using qs71::emu::LastSession;

namespace {

std::string TextOrEmpty(const char* text) { return text ? text : ""; }

// The host may change the settings while calls run on other threads.
template <typename Change>
void ChangeControl(Change change) {
  std::lock_guard<std::mutex> hold(qs71::emu::ControlLock());
  change(qs71::emu::Control());
}

bool ValidProgrammer(int32_t programmer) {
  return programmer >= 1 && programmer <= qs71::emu::kMaxProgrammers;
}

}  // namespace

extern "C" {

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuReset(void) {
  ChangeControl([](qs71::emu::ControlSettings& control) { control.Reset(); });
  qs71::emu::ResetSockets();
  qs71::emu::ResetSessions();
}

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetChipId(uint8_t id0, uint8_t id1, uint8_t id2,
                                                     uint8_t id3) {
  ChangeControl([&](qs71::emu::ControlSettings& control) {
    control.id = qs71::emu::ChipId{id0, id1, id2, id3};
  });
}

QS71_USB_WRITER_API int32_t QS71_CDECL Qs71EmuAddFaults(const char* faults) {
  std::string error;
  bool parsed = false;
  ChangeControl([&](qs71::emu::ControlSettings& control) {
    parsed = qs71::emu::ParseFaults(TextOrEmpty(faults), control.faults, error);
  });
  return parsed ? 0 : -1;
}

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetOtpFile(const char* path) {
  ChangeControl([&](qs71::emu::ControlSettings& control) { control.otpFile = TextOrEmpty(path); });
}

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetTranscript(const char* path) {
  ChangeControl(
      [&](qs71::emu::ControlSettings& control) { control.transcript = TextOrEmpty(path); });
}

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetHardwareIds(const char* ids) {
  ChangeControl(
      [&](qs71::emu::ControlSettings& control) { control.hardwareIds = TextOrEmpty(ids); });
}

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuPresetCell(uint32_t cell, uint8_t value) {
  ChangeControl(
      [&](qs71::emu::ControlSettings& control) { control.presets.emplace_back(cell, value); });
}

QS71_USB_WRITER_API int32_t QS71_CDECL Qs71EmuSetProgrammers(int32_t count) {
  if (!ValidProgrammer(count)) return -1;
  ChangeControl([&](qs71::emu::ControlSettings& control) { control.programmers = count; });
  return 0;
}

QS71_USB_WRITER_API int32_t QS71_CDECL Qs71EmuInsertChip(int32_t programmer, const char* path) {
  if (!ValidProgrammer(programmer) || TextOrEmpty(path).empty()) return -1;
  qs71::emu::InsertPart(programmer, path);
  return 0;
}

QS71_USB_WRITER_API int32_t QS71_CDECL Qs71EmuRemoveChip(int32_t programmer) {
  if (!ValidProgrammer(programmer)) return -1;
  qs71::emu::RemovePart(programmer);
  return 0;
}

QS71_USB_WRITER_API uint32_t QS71_CDECL Qs71EmuRequestCount(int32_t command) {
  if (command < 0) return LastSession().totalRequests;
  return command < 256 ? LastSession().requests[static_cast<size_t>(command)] : 0;
}

QS71_USB_WRITER_API uint32_t QS71_CDECL Qs71EmuCopyOtp(uint8_t* destination, uint32_t capacity) {
  const std::vector<uint8_t>& otp = LastSession().otp;
  if (destination != nullptr) {
    std::memcpy(destination, otp.data(), std::min<size_t>(capacity, otp.size()));
  }
  return static_cast<uint32_t>(otp.size());
}

}  // extern "C"
