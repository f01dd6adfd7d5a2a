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

#include "chip_identity.h"
#include "file_lock.h"
#include "file_system.h"
#include "text_format.h"  // Format

namespace qs71::emu {

namespace {

#if defined(O_BINARY)
constexpr int kBinaryMode = O_BINARY;
#else
constexpr int kBinaryMode = 0;
#endif

// Windows renames no file that a descriptor holds open; there the scratch's lock ends just
// before the rename, elsewhere just after it.
#if defined(_WIN32)
constexpr bool kRenameWhileOpen = false;
#else
constexpr bool kRenameWhileOpen = true;
#endif

// What stands at the scratch name when it is not a plain file, for the refusal.
const char* ScratchKind(const std::filesystem::file_status& status) {
  switch (status.type()) {
    case std::filesystem::file_type::symlink: return "a symbolic link";
    case std::filesystem::file_type::directory: return "a folder";
    default: return "not a regular file";
  }
}

// A write that failed before leaves the stream's error flag set; each store starts clean.
bool WriteAt(std::FILE* file, long offset, const uint8_t* bytes, size_t count) {
  std::clearerr(file);
  return std::fseek(file, offset, SEEK_SET) == 0 &&
         std::fwrite(bytes, 1, count, file) == count && std::fflush(file) == 0;
}

// A file there, of no bytes: a new part (ChipFile::Attach's emptyIsFresh).
bool IsEmptyFile(const std::string& path) {
  std::error_code none;
  return std::filesystem::exists(path, none) && std::filesystem::file_size(path, none) == 0;
}

}  // namespace

ChipFile::~ChipFile() { Close(); }

void ChipFile::Close() {
  if (file != nullptr) std::fclose(file);
  file = nullptr;
}

bool ChipFile::Attach(const std::string& path, OtpChip& chip, std::string& error,
                      bool emptyIsFresh) {
  creator.clear();
  std::error_code ignored;
  const bool exists = std::filesystem::exists(path, ignored) && !(emptyIsFresh && IsEmptyFile(path));
  if (!(exists ? Load(path, chip, error) : Create(path, chip, error))) return false;
  file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) error = "cannot open " + path + " to keep the chip in it";
  return file != nullptr;
}

namespace {

// The chip file was made for another part: the setting that emulates that part.
std::string PartHint(uintmax_t size) {
  for (const qs71::OtpPart& part : qs71::OtpParts()) {
    if (part.size == size) return Format(" (QS71_EMU_ID=6D61%02X00 emulates a part of that size)", part.sizeCode);
  }
  return "";
}

}  // namespace

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
    // Only a byte past the part was read: the file's own size says how long it is.
    std::error_code failed;
    const uintmax_t size = std::filesystem::file_size(path, failed);
    const uintmax_t held = failed ? content.size() : size;
    error = Format("%s holds %llu bytes, the emulated chip has %u%s", path.c_str(),
                   static_cast<unsigned long long>(held), chip.Size(), PartHint(held).c_str());
    return false;
  }
  return true;
}

// The scratch name is created exclusively (O_EXCL, CREATE_NEW on Windows) and locked while
// the part is written into it, so that whatever stands there already is never written
// through: a link planted to send the write elsewhere, or anything but a plain file, is
// refused and left alone; a plain file that another creation holds means that host is
// creating the part right now (Creator() names it). A plain file nobody holds was left by a
// creation that was killed: it would refuse every later call, so it is removed and the
// creation goes on.
int ChipFile::CreateScratch(const std::string& path, const std::string& scratch,
                            std::string& error) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | kBinaryMode, 0644);
    if (fd >= 0) {
      std::string why;
      if (LockExclusive(fd, &why) == FileLock::kTaken) return fd;
      close(fd);
      error = "cannot create the chip file " + path + ": " + scratch + ": " + why;
      return -1;
    }
    const int reason = errno;
    const bool taken = reason == EEXIST;
    if (!taken || !RemoveStaleScratch(path, scratch, error)) {
      if (!taken) error = "cannot create the chip file " + path + ": " + scratch + ": " + std::generic_category().message(reason);
      return -1;
    }
  }
  error = "cannot create the chip file " + path + ": " + scratch + " keeps coming back";
  return -1;
}

bool ChipFile::RemoveStaleScratch(const std::string& path, const std::string& scratch,
                                  std::string& error) {
  std::error_code ignored;
  const std::filesystem::file_status status = std::filesystem::symlink_status(scratch, ignored);
  if (status.type() != std::filesystem::file_type::regular) {
    error = "cannot create the chip file " + path + ": " + scratch + " is in the way (" +
            ScratchKind(status) + ")";
    return false;
  }
  std::string why;
  const int fd = OpenForLock(scratch, &why);
  const FileLock lock = fd < 0 ? FileLock::kFailed : LockExclusive(fd, &why);
  CloseLockedFile(fd);
  if (lock == FileLock::kHeld) creator = why;
  if (lock != FileLock::kTaken) {
    error = "cannot create the chip file " + path + ": " + scratch + " is in the way (" +
            (lock == FileLock::kHeld ? why + " is creating it" : why) + ")";
    return false;
  }
  std::filesystem::remove(scratch, ignored);
  return true;
}

namespace {

// Every cell into out, which is closed whatever happened; false where a byte did not go in.
bool WriteCellsAndClose(std::FILE* out, const OtpChip& chip) {
  if (out == nullptr) return false;
  const std::vector<uint8_t>& cells = chip.Cells();
  const bool written = std::fwrite(cells.data(), 1, cells.size(), out) == cells.size();
  return std::fclose(out) == 0 && written;
}

// Windows replaces no file that is open, and a socket's empty part file is open under the
// programmer's hold: there the fresh part is written into the file itself (it held nothing).
bool FillInPlace(const std::string& path, OtpChip& chip, std::string& error) {
  if (!WriteCellsAndClose(std::fopen(path.c_str(), "r+b"), chip)) {
    error = "cannot create the chip file " + path;
    return false;
  }
  chip.ForgetChanges();
  return true;
}

}  // namespace

bool ChipFile::Create(const std::string& path, OtpChip& chip, std::string& error) {
  if (!kRenameWhileOpen && IsEmptyFile(path)) return FillInPlace(path, chip, error);
  const std::string scratch = path + ".new";
  const int lockFd = CreateScratch(path, scratch, error);
  if (lockFd < 0) return false;
  const int descriptor = dup(lockFd);
  std::FILE* out = descriptor < 0 ? nullptr : fdopen(descriptor, "wb");
  if (out == nullptr && descriptor >= 0) close(descriptor);
  const bool written = WriteCellsAndClose(out, chip);
  if (!kRenameWhileOpen) close(lockFd);
  // An empty file at path is a new part (Attach's emptyIsFresh): the chip takes its place.
  std::string why;
  const bool created = written && RenameOver(scratch, path, &why);
  if (!created) {
    std::error_code ignored;
    std::filesystem::remove(scratch, ignored);
    error = "cannot create the chip file " + path + (why.empty() ? "" : ": " + why);
  }
  if (kRenameWhileOpen) close(lockFd);
  if (created) chip.ForgetChanges();
  return created;
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
