#include "job/scratch_chip.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#include "platform/host_system.h"

namespace qs71prog {

namespace {

constexpr const char* kOtpFileVariable = "QS71_EMU_OTP_FILE";

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

bool ScratchChip::Keep() {
  const char* chosen = std::getenv(kOtpFileVariable);
  if (chosen != nullptr && *chosen != '\0') return true;
  std::error_code error;
  const std::filesystem::path scratch = NewScratchPath(error);
  if (error || !SetEnvironment(kOtpFileVariable, scratch.string())) return false;
  path = scratch.string();
  return true;
}

void ScratchChip::Remove() {
  if (path.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  path.clear();
}

}  // namespace qs71prog
