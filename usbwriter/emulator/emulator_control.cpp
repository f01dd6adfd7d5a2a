// The exported control interface of the emulated library.
#include "qs71_emulator_control.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "emulator_settings.h"
#include "session_record.h"

using qs71::emu::Control;
using qs71::emu::LastSession;

namespace {

std::string TextOrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

extern "C" {

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuReset(void) {
  Control().Reset();
  LastSession().Reset();
}

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetChipId(uint8_t id0, uint8_t id1, uint8_t id2,
                                                     uint8_t id3) {
  Control().id = qs71::emu::ChipId{id0, id1, id2, id3};
}

QS71_USB_WRITER_API int32_t QS71_CDECL Qs71EmuAddFaults(const char* faults) {
  std::string error;
  return qs71::emu::ParseFaults(TextOrEmpty(faults), Control().faults, error) ? 0 : -1;
}

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetOtpFile(const char* path) {
  Control().otpFile = TextOrEmpty(path);
}

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetTranscript(const char* path) {
  Control().transcript = TextOrEmpty(path);
}

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetHardwareIds(const char* ids) {
  Control().hardwareIds = TextOrEmpty(ids);
}

QS71_USB_WRITER_API void QS71_CDECL Qs71EmuPresetCell(uint32_t cell, uint8_t value) {
  Control().presets.emplace_back(cell, value);
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
