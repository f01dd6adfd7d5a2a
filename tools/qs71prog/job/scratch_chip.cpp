#include "job/scratch_chip.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

namespace qs71prog {

namespace {

// Unique among the jobs that run at once on one machine; none of them creates the file
// before its first call has ended.
std::filesystem::path NewScratchPath(std::error_code& error) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  std::random_device random;
  const std::string name =
      "qs71prog-chip-" + std::to_string(random()) + "-" + std::to_string(random()) + ".otp";
  return folder / name;
}

}  // namespace

std::string ChosenChipFile(const Options& options) {
  if (!options.otpFile.empty()) return options.otpFile;
  const char* inherited = std::getenv("QS71_EMU_OTP_FILE");
  return inherited != nullptr ? inherited : "";
}

bool ScratchChip::Keep(const Options& options, const WriterLibrary& library) {
  if (!library.IsEmulated()) return true;
  if (!options.transcript.empty()) library.SetTranscript(options.transcript);
  file = ChosenChipFile(options);
  if (file.empty()) {
    std::error_code error;
    const std::filesystem::path path = NewScratchPath(error);
    if (error) return false;
    scratch = file = path.string();
  }
  library.SetChipFile(file);
  return true;
}

void ScratchChip::Remove() {
  if (scratch.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(scratch, ignored);
  scratch.clear();
}

void ScratchChip::ForgetUsersFile() {
  if (!IsUsers()) return;
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
}

bool ChipFileExists(const ScratchChip& chip) {
  std::error_code ignored;
  return !chip.File().empty() && std::filesystem::exists(chip.File(), ignored);
}

}  // namespace qs71prog
