#include "chip_file.h"

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "text_format.h"  // Format

namespace qs71::emu {

namespace {

#if defined(O_BINARY)
constexpr int kBinaryMode = O_BINARY;
#else
constexpr int kBinaryMode = 0;
#endif

// A write that failed before leaves the stream's error flag set; each store starts clean.
bool WriteAt(std::FILE* file, long offset, const uint8_t* bytes, size_t count) {
  std::clearerr(file);
  return std::fseek(file, offset, SEEK_SET) == 0 &&
         std::fwrite(bytes, 1, count, file) == count && std::fflush(file) == 0;
}

}  // namespace

ChipFile::~ChipFile() { Close(); }

void ChipFile::Close() {
  if (file != nullptr) std::fclose(file);
  file = nullptr;
}

bool ChipFile::Attach(const std::string& path, OtpChip& chip, std::string& error,
                      bool emptyIsFresh) {
  std::error_code ignored;
  const bool exists = std::filesystem::exists(path, ignored) &&
                      !(emptyIsFresh && std::filesystem::file_size(path, ignored) == 0);
  if (!(exists ? Load(path, chip, error) : Create(path, chip, error))) return false;
  file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) error = "cannot open " + path + " to keep the chip in it";
  return file != nullptr;
}

bool ChipFile::Load(const std::string& path, OtpChip& chip, std::string& error) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    error = "cannot read the chip from " + path;
    return false;
  }
  // One byte more than the part, so that a longer file shows as one.
  std::vector<uint8_t> content(chip.Size() + 1);
  content.resize(std::fread(content.data(), 1, content.size(), in));
  std::fclose(in);
  if (!chip.Load(content)) {
    error = Format("%s holds %lu bytes, the emulated chip has %u", path.c_str(),
                   static_cast<unsigned long>(content.size()), chip.Size());
    return false;
  }
  return true;
}

// The scratch name is created exclusively (O_EXCL, CREATE_NEW on Windows): whatever is there
// already, a link planted to send the write elsewhere, a scratch left by a creation that was
// killed, or another host creating the same part at this moment, is refused and left alone,
// never written through.
bool ChipFile::Create(const std::string& path, OtpChip& chip, std::string& error) {
  const std::string scratch = path + ".new";
  const int descriptor = open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | kBinaryMode, 0644);
  if (descriptor < 0) {
    error = "cannot create the chip file " + path + ": " + scratch + " " +
            (errno == EEXIST ? "is in the way" : "cannot be created");
    return false;
  }
  std::FILE* out = fdopen(descriptor, "wb");
  if (out == nullptr) close(descriptor);
  const std::vector<uint8_t>& cells = chip.Cells();
  const bool written =
      out != nullptr && std::fwrite(cells.data(), 1, cells.size(), out) == cells.size();
  const bool closed = out != nullptr && std::fclose(out) == 0;
  std::error_code renameError;
  if (written && closed) std::filesystem::rename(scratch, path, renameError);
  if (!written || !closed || renameError) {
    std::error_code ignored;
    std::filesystem::remove(scratch, ignored);
    error = "cannot create the chip file " + path;
    return false;
  }
  chip.ForgetChanges();
  return true;
}

// The changes are forgotten only once they are in the file: a store that failed is made
// again, whole, by the next one.
bool ChipFile::Store(OtpChip& chip) {
  const OtpChip::Span span = chip.Changes();
  if (file == nullptr || span.Empty()) return true;
  if (!WriteAt(file, static_cast<long>(span.first), chip.Cells().data() + span.first,
               span.end - span.first)) {
    return false;
  }
  chip.ForgetChanges();
  return true;
}

}  // namespace qs71::emu
