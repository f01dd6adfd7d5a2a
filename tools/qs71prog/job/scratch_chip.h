#pragma once

#include <string>

namespace qs71prog {

// The emulated programmer forgets its chip when a call of the library ends: its tests want a
// fresh part in every call. A job makes one call per step, and on a bench the part stays in
// the socket between them, so a dry run of several steps keeps its chip in a scratch file
// unless the user keeps it in a file of their own (--emulate=OTPFILE, QS71_EMU_OTP_FILE).
class ScratchChip {
 public:
  ScratchChip() = default;
  ~ScratchChip() { Remove(); }
  ScratchChip(const ScratchChip&) = delete;
  ScratchChip& operator=(const ScratchChip&) = delete;

  // Points the emulated library at a new scratch file when no chip file is set; a missing
  // file is a fresh blank part to the emulator. False when the setting cannot be passed on.
  bool Keep();
  void Remove();

 private:
  std::string path;
};

}  // namespace qs71prog
