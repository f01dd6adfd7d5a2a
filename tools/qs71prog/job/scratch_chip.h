#pragma once

#include <string>

#include "cli/prog_options.h"
#include "platform/writer_library.h"

namespace qs71prog {

// The emulated programmer forgets its chip when a call of the library ends: its tests want a
// fresh part in every call. A job makes one call per step, and searches a failed part with
// more calls; on a bench the part stays in the socket between them. So a dry run keeps its
// chip in a file: the user's (--emulate=OTPFILE, QS71_EMU_OTP_FILE), or else a scratch file
// that goes when the job ends. The library is told through its control calls.
class ScratchChip {
 public:
  ScratchChip() = default;
  ~ScratchChip() { Remove(); }
  ScratchChip(const ScratchChip&) = delete;
  ScratchChip& operator=(const ScratchChip&) = delete;

  // Chooses the chip file and points the emulated library at it, with the transcript the
  // options name. False when no scratch file name can be had.
  bool Keep(const Options& options, const WriterLibrary& library);
  // The chip file in use; empty before Keep or without the emulator.
  const std::string& File() const { return file; }
  // Whether the chip file is the user's, whom another run may share it with.
  bool IsUsers() const { return scratch.empty() && !file.empty(); }
  void Remove();
  // Removes the user's chip file, for a job that made it and was then refused before the
  // part was touched.
  void ForgetUsersFile();
  // The emulated part's size, unless QS71_EMU_ID names the part: an existing chip file of a
  // part's size is that part, whatever the image; otherwise the part is of the image's size
  // (imageSize 0: the emulator's own default), so that a dry run of a 512 KiB image meets a
  // 512 KiB part. The library is told through its control calls.
  void ChoosePart(const WriterLibrary& library, uint64_t imageSize);
  // When the part's size is the existing chip file's: that file; else empty.
  const std::string& SizedByFile() const { return sizedBy; }

 private:
  std::string file;
  std::string scratch;
  std::string sizedBy;
};

// Whether the chip file exists already (a job that makes it cannot tell a fresh part of the
// wrong size from the user's part).
bool ChipFileExists(const ScratchChip& chip);

// The chip file the user chose: --emulate=OTPFILE, else QS71_EMU_OTP_FILE; empty for none.
std::string ChosenChipFile(const Options& options);

}  // namespace qs71prog
