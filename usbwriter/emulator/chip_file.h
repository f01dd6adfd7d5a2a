#pragma once

#include <cstdio>
#include <string>

#include "otp_chip.h"

namespace qs71::emu {

// An emulated part kept in a file (QS71_EMU_OTP_FILE, qs71prog --emulate=FILE). The file is
// the part: it holds the whole array at every moment, and each cell that changes is written
// through to it before the programmer takes the next request. A dry run that is killed or
// interrupted anywhere, mid-write included, leaves the part exactly as far as it was
// programmed, which is what a real part would show; it is never truncated or left empty.
// The writes reach the operating system at once, which is all that outliving the process
// needs; surviving a power cut is not the emulator's business.
class ChipFile {
 public:
  ChipFile() = default;
  ~ChipFile();
  ChipFile(const ChipFile&) = delete;
  ChipFile& operator=(const ChipFile&) = delete;

  // Loads the part from path into chip, or, when there is no such file (or, with
  // emptyIsFresh, an empty one: a socket's new part file), creates it from the fresh chip:
  // written whole to a scratch file beside it, created exclusively, and renamed into place,
  // so that the name never shows a partial part. False, with error, for a file of another
  // size (most likely an image given by mistake, left untouched), a scratch name that holds
  // anything but a plain file or one another host is creating (see Creator), or a file that
  // cannot be read, created or opened for update. A plain scratch that no creation holds,
  // left by one that was killed, is removed and the creation goes on.
  bool Attach(const std::string& path, OtpChip& chip, std::string& error,
              bool emptyIsFresh = false);
  // Writes the cells changed since the last store that succeeded, then hands them to the
  // system. False when that failed; the file then still holds a whole part, only not the
  // latest cells, which the next store writes again.
  bool Store(OtpChip& chip);
  bool Attached() const { return file != nullptr; }
  // When Attach failed because another process is creating this part: that process
  // ("process 4711 (qs71prog)"); empty otherwise.
  const std::string& Creator() const { return creator; }
  // Lets go of the file, which keeps the part as it last stored it.
  void Close();

 private:
  bool Load(const std::string& path, OtpChip& chip, std::string& error);
  bool Create(const std::string& path, OtpChip& chip, std::string& error);
  // The scratch, created and locked: its descriptor, or -1 with error.
  int CreateScratch(const std::string& path, const std::string& scratch, std::string& error);
  bool RemoveStaleScratch(const std::string& path, const std::string& scratch,
                          std::string& error);

  std::FILE* file = nullptr;
  std::string creator;
};

}  // namespace qs71::emu
