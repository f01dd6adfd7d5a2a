#include "job/scratch_chip.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#include "chip_identity.h"

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

namespace {

bool SizeCodeOf(uint64_t size, uint8_t& code) {
  for (const qs71::OtpPart& part : qs71::OtpParts()) {
    if (part.size == size) {
      code = part.sizeCode;
      return true;
    }
  }
  return false;
}

}  // namespace

void ScratchChip::ChoosePart(const WriterLibrary& library, uint64_t imageSize) {
  const char* named = std::getenv("QS71_EMU_ID");
  if (!library.IsEmulated() || (named != nullptr && *named != '\0')) return;
  std::error_code error;
  const uint64_t fileSize = file.empty() ? 0 : std::filesystem::file_size(file, error);
  uint8_t code = 0;
  if (!error && SizeCodeOf(fileSize, code)) {
    sizedBy = file;
  } else if (!SizeCodeOf(imageSize, code)) {
    return;
  }
  const uint8_t id[4] = {0x6D, 0x61, code, 0x00};
  library.SetChipId(id);
}

bool ChipFileExists(const ScratchChip& chip) {
  std::error_code ignored;
  return !chip.File().empty() && std::filesystem::exists(chip.File(), ignored);
}

}  // namespace qs71prog
