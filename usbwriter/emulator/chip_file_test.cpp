#include "chip_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "captured_cout.h"
#include "emulator_settings.h"
#include "emulator_test_fixture.h"
#include "file_contents.h"
#include "file_lock.h"
#include "qs71_application.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace qs71::emu {
namespace {

const ChipId kGoodId = {0x6D, 0x61, 0x02, 0x00};
constexpr uint32_t kSize = 0x40000;

std::filesystem::path PartPath() {
  const std::filesystem::path path = ScratchFolder(QS71_TEST_TMPDIR, "chip_file") / "part.otp";
  std::filesystem::remove(path);
  return path;
}

TEST(ChipFile, AMissingFileIsCreatedWholeBeforeAnythingIsProgrammed) {
  const std::filesystem::path path = PartPath();
  OtpChip chip(kGoodId, kSize);
  ChipFile file;
  std::string error;
  ASSERT_TRUE(file.Attach(path.string(), chip, error)) << error;
  EXPECT_EQ(ReadFileBytes(path), chip.Cells());
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".new"));
}

TEST(ChipFile, EveryChangedCellIsInTheFileOnceStored) {
  const std::filesystem::path path = PartPath();
  OtpChip chip(kGoodId, kSize);
  ChipFile file;
  std::string error;
  ASSERT_TRUE(file.Attach(path.string(), chip, error)) << error;
  // One data report's worth, one cell that does not change, and one through the alias of
  // the system area.
  for (uint32_t cell = 0x100; cell < 0x120; ++cell) chip.Program(cell, 0x00);
  chip.Program(0x200, 0xFF);
  ASSERT_TRUE(file.Store(chip));
  EXPECT_EQ(ReadFileBytes(path), chip.Cells());
  chip.Program(0xFFFE10, 0x00);
  chip.Preset(0x3000, 0x12);
  ASSERT_TRUE(file.Store(chip));
  EXPECT_EQ(ReadFileBytes(path), chip.Cells());
}

TEST(ChipFile, AKeptPartIsLoaded) {
  const std::filesystem::path path = PartPath();
  std::vector<uint8_t> kept(kSize, 0x5A);
  testwav::WriteFile(path, kept);
  OtpChip chip(kGoodId, kSize);
  ChipFile file;
  std::string error;
  ASSERT_TRUE(file.Attach(path.string(), chip, error)) << error;
  EXPECT_EQ(chip.Cells(), kept);
}

TEST(ChipFile, AFileOfAnotherSizeIsRefusedAndLeftAsItWas) {
  for (const size_t size : {size_t{0}, size_t{1000}, size_t{kSize - 1}, size_t{kSize + 1}}) {
    const std::filesystem::path path = PartPath();
    const std::vector<uint8_t> content(size, 0x42);
    testwav::WriteFile(path, content);
    OtpChip chip(kGoodId, kSize);
    ChipFile file;
    std::string error;
    EXPECT_FALSE(file.Attach(path.string(), chip, error)) << size;
    EXPECT_NE(error.find("holds " + std::to_string(size) + " bytes"), std::string::npos) << error;
    EXPECT_EQ(ReadFileBytes(path), content) << size;
  }
}

// While it lives, every write that reaches `bytes` into a file fails (EFBIG), as on a full
// disk; SIGXFSZ, which would end the process, is ignored meanwhile.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : handler(signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);
  }

 private:
  rlimit saved;
  sighandler_t handler;
};

TEST(ChipFile, AStoreThatFailedIsMadeAgainByTheNext) {
  const std::filesystem::path path = PartPath();
  OtpChip chip(kGoodId, kSize);
  ChipFile file;
  std::string error;
  ASSERT_TRUE(file.Attach(path.string(), chip, error)) << error;
  chip.Program(0x100, 0x00);
  chip.Program(0x3000, 0x00);
  {
    FileSizeLimit limit(0x2000);
    EXPECT_FALSE(file.Store(chip));
  }
  EXPECT_NE(ReadFileBytes(path)[0x3000], 0x00);
  EXPECT_TRUE(file.Store(chip));
  EXPECT_EQ(ReadFileBytes(path), chip.Cells());
}

// What stands at the scratch name: a plain file that a creation killed before left, and
// nobody holds, is removed and the part created; a link, or a scratch that a live creation
// holds, is refused, named and left as it was, and nothing is written through it.
TEST(ChipFile, AScratchNameAlreadyTakenIsNeverWrittenThrough) {
  const std::filesystem::path path = PartPath();
  const std::filesystem::path scratch = path.string() + ".new";
  const std::filesystem::path victim = path.parent_path() / "victim.bin";
  const std::vector<uint8_t> kept = {1, 2, 3};
  enum class Scratch { kStale, kLink, kHeld };
  struct Row {
    Scratch scratch;
    bool created;
    std::string named;  // in the error, after the scratch's name
  };
  const Row rows[] = {{Scratch::kStale, true, ""},
                      {Scratch::kLink, false, " is in the way (a symbolic link)"},
                      {Scratch::kHeld, false, " is in the way (process "}};
  for (const Row& row : rows) {
    std::filesystem::remove(scratch);
    std::filesystem::remove(path);
    testwav::WriteFile(victim, kept);
    if (row.scratch == Scratch::kLink) {
      std::filesystem::create_symlink(victim, scratch);
    } else {
      testwav::WriteFile(scratch, kept);
    }
    // Another open file's lock stands for a creation under way in another process.
    std::string why;
    const int creation = row.scratch == Scratch::kHeld ? OpenForLock(scratch.string(), &why) : -1;
    if (creation >= 0) {
      ASSERT_EQ(LockExclusive(creation, &why), FileLock::kTaken) << why;
    }
    OtpChip chip(kGoodId, kSize);
    ChipFile file;
    std::string error;
    EXPECT_EQ(file.Attach(path.string(), chip, error), row.created) << error;
    CloseLockedFile(creation);
    EXPECT_EQ(ReadFileBytes(victim), kept);
    EXPECT_EQ(std::filesystem::exists(path), row.created);
    if (row.created) {
      EXPECT_EQ(ReadFileBytes(path), chip.Cells());
      EXPECT_FALSE(std::filesystem::exists(scratch));
      continue;
    }
    EXPECT_NE(error.find(scratch.string() + row.named), std::string::npos) << error;
    EXPECT_EQ(file.Creator().empty(), row.scratch != Scratch::kHeld) << file.Creator();
    EXPECT_EQ(std::filesystem::is_symlink(scratch), row.scratch == Scratch::kLink);
    EXPECT_EQ(ReadFileBytes(scratch), kept);
  }
  std::filesystem::remove(scratch);
}

// A part that cannot be created says the system's reason.
TEST(ChipFile, AFolderThatIsNotThereIsTheReason) {
  const std::string path = (PartPath().parent_path() / "no-such-folder" / "part.otp").string();
  OtpChip chip(kGoodId, kSize);
  ChipFile file;
  std::string error;
  EXPECT_FALSE(file.Attach(path, chip, error));
  EXPECT_EQ(error, "cannot create the chip file " + path + ": " + path + ".new: No such file or directory");
}

// A request whose cells did not reach the part's file fails, as a report that was not
// written, and the job with it.
class ChipFileJob : public EmulatedProgrammerTest {};

TEST_F(ChipFileJob, AWriteTheFileDoesNotKeepFails) {
  const std::filesystem::path path = PartPath();
  OtpChip fresh(kGoodId, kSize);
  testwav::WriteFile(path, fresh.Cells());
  const std::filesystem::path image = path.parent_path() / "zeros.bin";
  testwav::WriteFile(image, std::vector<uint8_t>(kSize, 0x00));
  Control().otpFile = path.string();
  CapturedCout out;
  Qs71Application app;
  app.SelectWrite(image.string());
  int stage = 0, progress = 0, otpSize = 0;
  int result = 0;
  {
    FileSizeLimit limit(0x8000);
    testing::internal::CaptureStderr();
    result = app.Run(&stage, &progress, &otpSize);
    testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(result, -20);
  EXPECT_NE(out.Text().find("[ERROR] Fail to write OTP data! (-20)\n"), std::string::npos);
  // Programmed up to the limit, and not a cell beyond it.
  const std::vector<uint8_t> kept = ReadFileBytes(path);
  EXPECT_EQ(kept[0x7FFF], 0x00);
  EXPECT_EQ(kept[0x8000], 0xFF);
  EXPECT_LT(progress, 0x8000 + 32);
}

}  // namespace
}  // namespace qs71::emu
