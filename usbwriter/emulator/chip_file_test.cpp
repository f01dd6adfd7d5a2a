#include "chip_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "file_contents.h"
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

}  // namespace
}  // namespace qs71::emu
