#include "job/preflight.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "chip_identity.h"

namespace qs71prog {

namespace {

Preflight Refuse(ExitCode exit, const std::string& problem) { return {exit, problem, "", {}}; }

// "262144, 524288, 1048576 or 2097152"
std::string PartSizes() {
  std::string text;
  const auto parts = qs71::OtpParts();
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += i + 1 == parts.size() ? " or " : ", ";
    text += std::to_string(parts[i].size);
  }
  return text;
}

// A missing file and a folder keep the file-error status that the library's own "cannot
// open" has always had: scripts that branch on it see no change, only the earlier moment.
Preflight CheckFileKind(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) {
    return Refuse(ExitCode::kFileError, "cannot open the image " + path + ": no such file");
  }
  if (error) {
    return Refuse(ExitCode::kFileError, "cannot open the image " + path + ": " + error.message());
  }
  if (status.type() == std::filesystem::file_type::directory) {
    return Refuse(ExitCode::kFileError, path + " is a folder, not an image file");
  }
  if (status.type() != std::filesystem::file_type::regular) {
    return Refuse(ExitCode::kFileError, path + " is not a regular file");
  }
  return {};
}

Preflight CheckSize(const std::string& name, uint64_t size) {
  if (qs71::IsOtpSize(static_cast<int64_t>(size))) return {};
  return Refuse(ExitCode::kImageSize,
                name + " is " + std::to_string(size) + " bytes; a QS71 part holds " + PartSizes());
}

// The size is known to be a part's, so the whole file fits in memory.
Preflight ReadWhole(const std::string& path, uint64_t size, std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return Refuse(ExitCode::kFileError,
                  "cannot read the image " + path + ": " + std::strerror(errno));
  }
  bytes.assign(static_cast<size_t>(size) + 1, 0xFF);
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  if (got != size) {
    return Refuse(ExitCode::kFileError, "the image " + path + " changed while it was read");
  }
  bytes.resize(got);
  return {};
}

}  // namespace

Preflight JudgeVerdict(const std::string& name, const ImageVerdict& verdict, bool force) {
  // This rule holds with --force too: the write would destroy the part's trims, and the run's
  // "invalid system area" that follows would have the operator blame a good chip.
  const ImageProblem* factory = verdict.Find(ImageFault::kFactoryCell);
  if (factory != nullptr && (force || &verdict.problems.front() == factory)) {
    return Refuse(ExitCode::kNotAnImage,
                  name + " would clear the part's factory trim at " + factory->detail +
                      ": the image is wrong, not the chip; rebuild it without writing the "
                      "system area's factory cells");
  }
  if (verdict.Ok()) return {};
  const std::string why = name + " is not a QS71 image: " + ImageRefusal(verdict);
  if (force) return {ExitCode::kOk, "", "--force: " + why + "; taken as it is", {}};
  return Refuse(ExitCode::kNotAnImage, why + "; --force takes it as it is");
}

Preflight JudgeImage(const std::string& name, const std::vector<uint8_t>& bytes, bool force) {
  const Preflight result = CheckSize(name, bytes.size());
  if (result.exit != ExitCode::kOk) return result;
  return JudgeVerdict(name, CheckImage(bytes), force);
}

Preflight PreflightImage(const Options& options) {
  // A job file's image was read with the job, which its hash and signature vouch for: those
  // bytes are judged, and the job file itself is never taken for an image.
  if (!options.jobFile.empty()) {
    Preflight judged = JudgeImage(options.jobFile, options.jobImage, false);
    if (judged.exit == ExitCode::kOk) judged.bytes = options.jobImage;
    return judged;
  }
  const std::string& path = options.image;
  if (path.empty()) return {};
  Preflight result = CheckFileKind(path);
  if (result.exit != ExitCode::kOk) return result;
  std::error_code error;
  const uint64_t size = std::filesystem::file_size(path, error);
  if (error) {
    return Refuse(ExitCode::kFileError, "cannot read the image " + path + ": " + error.message());
  }
  if ((result = CheckSize(path, size)).exit != ExitCode::kOk) return result;
  std::vector<uint8_t> bytes;
  if ((result = ReadWhole(path, size, bytes)).exit != ExitCode::kOk) return result;
  result = JudgeImage(path, bytes, options.force);
  if (result.exit == ExitCode::kOk) result.bytes = std::move(bytes);
  return result;
}

}  // namespace qs71prog
