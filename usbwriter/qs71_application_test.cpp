// The OTP operations run directly against the emulated programmer: range sizes, progress,
// image files and the read-back that the exported function never selects.
#include "qs71_application.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "captured_cout.h"
#include "file_contents.h"
#include "emulator_settings.h"
#include "emulator_test_fixture.h"
#include "session_record.h"

namespace {

using qs71::emu::Control;
using qs71::emu::LastSession;

std::filesystem::path TempDir() {
  const std::filesystem::path dir = std::filesystem::path(QS71_TEST_TMPDIR) / "application";
  std::filesystem::create_directories(dir);
  return dir;
}

class ApplicationTest : public EmulatedProgrammerTest {};

struct SizeCase {
  uint32_t size;
  int result;
};

TEST_F(ApplicationTest, RangeSizesAreCheckedBeforeAnythingIsSent) {
  CapturedCout out;
  Qs71Application app;
  ASSERT_EQ(app.StartOtpTest(), 0);
  ASSERT_EQ(app.Identify(), 0);
  const std::vector<uint8_t> blank(1024, 0xFF);
  const SizeCase reads[] = {{0, -53}, {32, -53}, {63, -53}, {65, -53}, {100, -53},
                            {64, 0},  {128, 0},  {512, 0}};
  const SizeCase writes[] = {{0, -55}, {16, -55}, {33, -55}, {48, -55}, {32, 0}, {64, 0}};
  const SizeCase verifies[] = {{0, -54},   {128, -54}, {300, -54}, {800, -54},
                               {2048, -54}, {256, 0},   {512, 0}};
  for (const SizeCase& c : reads) {
    const uint32_t before = LastSession().totalRequests;
    std::vector<uint8_t> data;
    EXPECT_EQ(app.ReadRange(0, c.size, data), c.result) << "read " << c.size;
    EXPECT_EQ(LastSession().totalRequests == before, c.result != 0) << "read " << c.size;
  }
  for (const SizeCase& c : writes) {
    const uint32_t before = LastSession().totalRequests;
    EXPECT_EQ(app.WriteRange(0, c.size, blank), c.result) << "write " << c.size;
    EXPECT_EQ(LastSession().totalRequests == before, c.result != 0) << "write " << c.size;
  }
  for (const SizeCase& c : verifies) {
    const uint32_t before = LastSession().totalRequests;
    bool match = false;
    EXPECT_EQ(app.VerifyRange(0, c.size, blank, match), c.result) << "verify " << c.size;
    EXPECT_EQ(LastSession().totalRequests == before, c.result != 0) << "verify " << c.size;
  }
  const std::string text = out.Text();
  for (const char* line :
       {"[ERROR] Invalid OTP read size 63 bytes!\n", "[ERROR] Invalid OTP read size 0 bytes!\n",
        "[ERROR] Invalid OTP write size 48 bytes!\n", "[ERROR] Invalid OTP verify size 300 bytes!\n",
        "[ERROR] Invalid OTP verify size 800 bytes!\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
}

TEST_F(ApplicationTest, ReadRangeFillsFromTheChipAndPrintsOneEmptyLine) {
  Control().presets = {{0x40000 - 512, 0x11}, {0x40000 - 1, 0x22}};
  Qs71Application app;
  std::string text;
  std::vector<uint8_t> block;
  {
    CapturedCout out;
    ASSERT_EQ(app.StartOtpTest(), 0);
    ASSERT_EQ(app.Identify(), 0);
    ASSERT_EQ(app.ReadRange(0xFFFE00, 512, block), 0);
    text = out.Text();
  }
  ASSERT_EQ(block.size(), 512u);
  EXPECT_EQ(block[0], 0x11);
  EXPECT_EQ(block[511], 0x22);
  EXPECT_EQ(block[512 - 66], 0x5A);
  EXPECT_EQ(text.substr(text.size() - 1), "\n");
  EXPECT_EQ(LastSession().requests[0x77], 16u);  // 8 by Identify, 8 here
}

TEST_F(ApplicationTest, ProgressShowsTheLastChunkThatWentThrough) {
  // The fifth data report of the write fails: four chunks of 32 bytes went through.
  AddFaults("write-fails:0x74:5");
  const std::filesystem::path image = TempDir() / "progress.bin";
  std::ofstream(image, std::ios::binary) << std::string(0x40000, '\xFF');
  CapturedCout out;
  Qs71Application app;
  app.SelectWrite(image.string());
  int stage = -1;
  int progress = -1;
  int otpSize = -1;
  EXPECT_EQ(app.Run(&stage, &progress, &otpSize), -20);
  EXPECT_EQ(progress, 4 * 32 - 1);
  EXPECT_EQ(stage, 0);
  EXPECT_EQ(otpSize, 0x40000);
  EXPECT_NE(out.Text().find("[ERROR] Fail to write OTP data! (-20)\n"), std::string::npos);
}

TEST_F(ApplicationTest, ProgressFoldsTheSystemAreaAliasIntoThePart) {
  const struct {
    uint8_t sizeCode;
    int last;
  } cases[] = {{0x02, 0x3FFFF}, {0x04, 0x7FFFF}, {0x08, 0xFFFFF}, {0x16, 0x1FFFFF}};
  for (const auto& c : cases) {
    Control().id = qs71::emu::ChipId{0x6D, 0x61, c.sizeCode, 0x00};
    CapturedCout out;
    Qs71Application app;
    int stage = 0;
    int progress = 0;
    int otpSize = 0;
    ASSERT_EQ(app.Run(&stage, &progress, &otpSize), 0);
    EXPECT_EQ(progress, c.last) << "size code " << int{c.sizeCode};
    EXPECT_EQ(otpSize, c.last + 1);
  }
}

TEST_F(ApplicationTest, ImportFileReportsFilesThatCannotBeRead) {
  CapturedCout out;
  Qs71Application app;
  std::vector<uint8_t> data = {1, 2, 3};
  const std::string missing = (TempDir() / "missing.bin").string();
  EXPECT_EQ(app.ImportFile(missing, data), -40);
  EXPECT_EQ(data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(app.ImportFile(TempDir().string(), data), -40);
  EXPECT_EQ(app.ImportFile("", data), -40);
  const std::filesystem::path present = TempDir() / "present.bin";
  std::ofstream(present, std::ios::binary) << std::string("\x00\x5A\xFF", 3);
  EXPECT_EQ(app.ImportFile(present.string(), data), 0);
  EXPECT_EQ(data, (std::vector<uint8_t>{0x00, 0x5A, 0xFF}));
  EXPECT_EQ(out.Text(), "[ERROR] Failed to open file: " + missing + "\n" +
                            "[ERROR] Failed to open file: " + TempDir().string() + "\n" +
                            "[ERROR] Failed to open file: \n" + "Import File: " +
                            present.string() + "\n");
}

TEST_F(ApplicationTest, ExportFileReplacesTheFileOrReportsIt) {
  CapturedCout out;
  Qs71Application app;
  const std::filesystem::path target = TempDir() / "export.bin";
  std::ofstream(target, std::ios::binary) << std::string(100, 'x');
  EXPECT_EQ(app.ExportFile(target.string(), {1, 2, 3}), 0);
  EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
  const std::string bad = (TempDir() / "no-such-dir" / "x.bin").string();
  EXPECT_EQ(app.ExportFile(bad, {1}), -40);
  EXPECT_EQ(out.Text(), "Export File: " + target.string() + "\nFailed to create file: " + bad + "\n");
}

TEST_F(ApplicationTest, ReadBackReturnsTheWholeArrayFromAddressZero) {
  const uint32_t size = 0x40000;
  Control().presets = {{0, 0x01}, {63, 0x02}, {64, 0x03}, {size - 512, 0x04}, {size - 1, 0x05}};
  const std::filesystem::path file = TempDir() / "readback.bin";
  const std::filesystem::path transcript = TempDir() / "readback.txt";
  std::filesystem::remove(transcript);
  Control().transcript = transcript.string();
  std::string text;
  {
    CapturedCout out;
    Qs71Application app;
    app.SetReadVdd(5.0);
    app.SelectRead(file.string());
    int stage = 0;
    int progress = 0;
    int otpSize = 0;
    ASSERT_EQ(app.Run(&stage, &progress, &otpSize), 0);
    text = out.Text();
  }
  const std::vector<uint8_t> content = ReadFileBytes(file);
  ASSERT_EQ(content.size(), size);
  EXPECT_EQ(content, LastSession().otp);
  EXPECT_EQ(content[63], 0x02);
  EXPECT_EQ(content[size - 1], 0x05);
  EXPECT_NE(text.find("[WARNING] Enabled engineer read!\n\nExport File: " + file.string() +
                      "\nRead OTP complete.\n"),
            std::string::npos)
      << text;
  // The engineering access sequence: seven words, the size code in the sixth.
  std::ifstream lines(transcript);
  std::string line;
  int wordLists = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("> 7c", 0) != 0 || line.substr(2 + 24, 2) != "07") continue;
    ++wordLists;
    EXPECT_EQ(line.substr(2 + 2 * 26, 2), "02") << line;  // low byte of word 6
  }
  EXPECT_EQ(wordLists, 1);
}

TEST_F(ApplicationTest, ShortBuffersAreRefusedInsteadOfOverrun) {
  CapturedCout out;
  Qs71Application app;
  ASSERT_EQ(app.StartOtpTest(), 0);
  const std::vector<uint8_t> small(64, 0xFF);
  bool match = false;
  EXPECT_EQ(app.WriteRange(0, 96, small), -55);
  EXPECT_EQ(app.VerifyRange(0, 256, small, match), -54);
}

}  // namespace
