// Qs71UsbWriter end to end through the emulated library: a host's call from the selections
// to the result code, the three cells, every printed line and the chip left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "test_images.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

constexpr uint32_t kSize = 262144;
const std::string kStart = "OTP test started @ VDD=3.30V, VPP=3.30V.\n";
const std::string kIdentified = "\nOTP ID: 0x6D, 0x61, 0x02, 0x00.\nOTP size: 262144 bytes.\n";
const std::string kStop = "The OTP test stopped.\n";
const std::string kBlankCheck =
    "VDD adjusted @ VDD=5.06V, VPP=5.06V.\n\n\nOTP blank check complete.\n";
const std::string kWrite =
    "Import File: {image}\nVDD adjusted @ VDD=5.41V, VPP=5.41V.\nOTP write in VPP=6.50V.\n\n"
    "Write OTP complete.\n";
const std::string kVerify =
    "Import File: {image}\nVDD adjusted @ VDD=5.06V, VPP=5.06V.\n\n\nVerify OTP complete.\n";

std::string WithImage(std::string text, const std::string& image) {
  for (size_t at = text.find("{image}"); at != std::string::npos; at = text.find("{image}")) {
    text.replace(at, 7, image);
  }
  return text;
}

class UsbWriterEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    ASSERT_NE(lib.reset, nullptr) << "control interface missing";
    lib.reset();
    systemArea = FreshSystemArea(lib);
    imagePath = (ScratchFolder(QS71_TEST_TMPDIR, "e2e") / "image.bin").string();
  }
  void TearDown() override { lib.reset(); }

  // Writes a valid image for a part of this size and returns it.
  std::vector<uint8_t> PrepareImage(uint32_t size, uint32_t seed = 7) {
    std::vector<uint8_t> image = ValidImage(size, systemArea, seed);
    WriteFile(imagePath, image);
    return image;
  }

  Job FullJob() const {
    Job job;
    job.blankCheck = job.write = job.verify = true;
    job.imageFile = imagePath.c_str();
    return job;
  }

  const WriterLibrary& lib = Emulated();
  std::vector<uint8_t> systemArea;
  std::string imagePath;
};

TEST_F(UsbWriterEndToEnd, BlankCheckWriteAndVerifyOfA256KPart) {
  const std::vector<uint8_t> image = PrepareImage(kSize);
  const Outcome outcome = lib.Call(FullJob());
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output,
            WithImage(kStart + kIdentified + kBlankCheck + kWrite + kVerify + kStop, imagePath));
  EXPECT_EQ(outcome.stage, 0);
  EXPECT_EQ(outcome.progress, 262143);
  EXPECT_EQ(outcome.otpSize, 262144);
  EXPECT_EQ(lib.Chip(), Programmed(kSize, systemArea, image));
  EXPECT_EQ(lib.requestCount(0x74), kSize / 32);
  EXPECT_EQ(lib.requestCount(0x7A), 2 * (kSize - 512) / 32);
  EXPECT_EQ(lib.requestCount(0x70), 1u);
  EXPECT_EQ(lib.requestCount(0x71), 1u);
}

TEST_F(UsbWriterEndToEnd, NothingSelectedStillIdentifiesThePart) {
  const Outcome outcome = lib.Call(Job{});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, kStart + kIdentified + kStop);
  EXPECT_EQ(outcome.stage, 0);
  EXPECT_EQ(outcome.otpSize, 262144);
  EXPECT_EQ(outcome.progress, 262143);
  EXPECT_EQ(lib.requestCount(0x73) + lib.requestCount(0x79) + lib.requestCount(0x7C), 0u);
}

TEST_F(UsbWriterEndToEnd, EverySizeIsWrittenAndVerified) {
  const struct {
    uint8_t code;
    uint32_t size;
  } parts[] = {{0x02, 262144}, {0x04, 524288}, {0x08, 1048576}, {0x16, 2097152}};
  for (const auto& part : parts) {
    lib.reset();
    lib.setChipId(0x6D, 0x61, part.code, 0x01);
    const std::vector<uint8_t> image = PrepareImage(part.size, part.code);
    Job job = FullJob();
    job.blankCheck = false;
    const Outcome outcome = lib.Call(job);
    EXPECT_EQ(outcome.result, 0) << outcome.output;
    EXPECT_EQ(outcome.otpSize, static_cast<int32_t>(part.size));
    EXPECT_EQ(outcome.progress, static_cast<int32_t>(part.size - 1));
    EXPECT_NE(outcome.output.find("OTP size: " + std::to_string(part.size) + " bytes.\n"),
              std::string::npos);
    // One data report per 32 bytes written; the verify streams the main area only.
    EXPECT_EQ(lib.requestCount(0x74), part.size / 32) << part.size;
    EXPECT_EQ(lib.requestCount(0x7A), (part.size - 512) / 32) << part.size;
    EXPECT_EQ(lib.Chip() == Programmed(part.size, systemArea, image), true) << part.size;
  }
}

TEST_F(UsbWriterEndToEnd, TwoMegabytePartTakes65536WriteReports) {
  lib.setChipId(0x6D, 0x61, 0x16, 0x00);
  PrepareImage(2097152);
  Job job;
  job.write = true;
  job.imageFile = imagePath.c_str();
  EXPECT_EQ(lib.Call(job).result, 0);
  EXPECT_EQ(lib.requestCount(0x74), 65536u);
  EXPECT_EQ(lib.requestCount(0x73), 1u);
  EXPECT_EQ(lib.requestCount(0x75), 1u);
  job.write = false;
  job.verify = true;
  EXPECT_EQ(lib.Call(job).result, -56) << "a fresh part is blank again";
  EXPECT_EQ(lib.requestCount(0x7A), 65520u);
}

TEST_F(UsbWriterEndToEnd, ClearedMarkerIsWrittenAndStillVerifies) {
  std::vector<uint8_t> image = PrepareImage(kSize);
  ASSERT_EQ(image[kSize - 31], 0x5A);
  Job job = FullJob();
  job.clearMarker = true;
  const Outcome outcome = lib.Call(job);
  EXPECT_EQ(outcome.result, 0) << outcome.output;
  EXPECT_EQ(lib.Chip()[kSize - 31], 0x00);
  EXPECT_EQ(ReadFileBytes(imagePath), image) << "the file itself is not changed";
  // Without the selection the marker stays as the part came.
  job.clearMarker = false;
  EXPECT_EQ(lib.Call(job).result, 0);
  EXPECT_EQ(lib.Chip()[kSize - 31], 0x5A);
}

TEST_F(UsbWriterEndToEnd, EveryCallMeetsAFreshPart) {
  PrepareImage(kSize);
  Job write;
  write.write = true;
  write.imageFile = imagePath.c_str();
  ASSERT_EQ(lib.Call(write).result, 0);
  Job blank;
  blank.blankCheck = true;
  EXPECT_EQ(lib.Call(blank).result, 0);
}

TEST_F(UsbWriterEndToEnd, OtpFileKeepsThePartBetweenCalls) {
  const std::filesystem::path otpFile = ScratchFolder(QS71_TEST_TMPDIR, "e2e") / "kept.otp";
  std::filesystem::remove(otpFile);
  lib.setOtpFile(otpFile.string().c_str());
  const std::vector<uint8_t> image = PrepareImage(kSize);
  Job write;
  write.write = true;
  write.imageFile = imagePath.c_str();
  ASSERT_EQ(lib.Call(write).result, 0);
  EXPECT_EQ(ReadFileBytes(otpFile), Programmed(kSize, systemArea, image));
  Job blank;
  blank.blankCheck = true;
  const Outcome notBlank = lib.Call(blank);
  EXPECT_EQ(notBlank.result, -57);
  EXPECT_EQ(notBlank.output, kStart + kIdentified +
                                 "VDD adjusted @ VDD=5.06V, VPP=5.06V.\n\n[ERROR] OTP NOT blank!\n" +
                                 kStop);
  Job verify;
  verify.verify = true;
  verify.imageFile = imagePath.c_str();
  EXPECT_EQ(lib.Call(verify).result, 0);
}

// A file made for a larger part shows its own size, not the byte past the part that was read.
TEST_F(UsbWriterEndToEnd, OtpFileOfAnotherSizeIsNeitherUsedNorOverwritten) {
  const std::filesystem::path otpFile = ScratchFolder(QS71_TEST_TMPDIR, "e2e") / "wrong-size.otp";
  const std::pair<size_t, std::string> rows[] = {
      {1000, "holds 1000 bytes, the emulated chip has 262144"},
      {524288, "holds 524288 bytes, the emulated chip has 262144 (QS71_EMU_ID=6D610400 emulates a part of that size)"}};
  for (const auto& [size, words] : rows) {
    WriteFile(otpFile, std::vector<uint8_t>(size, 0x42));
    lib.setOtpFile(otpFile.string().c_str());
    testing::internal::CaptureStderr();
    const Outcome outcome = lib.Call(Job{});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(outcome.result, -20);
    // The reason is the call's one message, where a host shows what the call printed.
    EXPECT_EQ(outcome.output, "[ERROR] No programmer: the emulated part: " + otpFile.string() + " " + words + "! (-20)\n");
    EXPECT_EQ(ReadFileBytes(otpFile), std::vector<uint8_t>(size, 0x42));
  }
}

// One failure per row: the setup that causes it, what the host selected, and what the host
// gets back. {image} stands for the image path. otpSize -1: the cell was not written.
struct Scenario {
  const char* name;
  const char* faults;
  std::array<uint8_t, 4> id;
  std::vector<std::pair<uint32_t, uint8_t>> presets;
  enum Image { kValid, kShort, kLong, kMissing, kNull } image;
  bool blankCheck, write, verify;
  int result;
  std::string output;
  int otpSize;
  uint32_t writeBegins;
};

const std::array<uint8_t, 4> kGood = {0x6D, 0x61, 0x02, 0x00};
const std::string kNoProgrammer =
    "Failed to start OTP test!! (-20)\nFailed to stop OTP test!! (-20)\n";

const Scenario kScenarios[] = {
    {"no programmer", "no-device", kGood, {}, Scenario::kValid, true, true, true, -20,
     kNoProgrammer, -1, 0},
    {"write handle fails", "write-open-fails", kGood, {}, Scenario::kValid, true, false, false,
     -20, kNoProgrammer, -1, 0},
    {"read handle fails", "read-open-fails", kGood, {}, Scenario::kValid, true, false, false,
     -20, kNoProgrammer, -1, 0},
    {"test start refused", "wrong-status:0x70", kGood, {}, Scenario::kValid, true, true, true,
     -59, "Failed to start OTP test!! (-59)\n" + kStop, -1, 0},
    {"stop fails after success", "wrong-echo:0x71", kGood, {}, Scenario::kValid, false, false,
     false, 0, kStart + kIdentified + "Failed to stop OTP test!! (-30)\n", 262144, 0},
    {"wrong ID", "", {0x6D, 0x62, 0x02, 0x07}, {}, Scenario::kValid, true, true, true, -50,
     kStart + "[ERROR] Invalid OTP ID! (0x6D,0x62,0x02,0x07)\n" + kStop, 0, 0},
    {"unknown size code", "", {0x6D, 0x61, 0x10, 0x00}, {}, Scenario::kValid, true, false,
     false, -51, kStart + "[ERROR] Undefined OTP size! (0x6D,0x61,0x10,0x00)\n" + kStop, 0, 0},
    {"ID refused", "wrong-status:0x72", kGood, {}, Scenario::kValid, true, false, false, -59,
     kStart + "Failed to get OTP ID 0x6D, 0x61, 0x02, 0x00!! (-59)\n" + kStop, 0, 0},
    {"ID reply lost", "no-reply:0x72", kGood, {}, Scenario::kValid, true, false, false, -20,
     kStart + "Failed to get OTP ID 0x00, 0x00, 0x00, 0x00!! (-20)\n" + kStop, 0, 0},
    {"marker erased", "", kGood, {{kSize - 31, 0xFF}}, Scenario::kValid, true, true, true, -58,
     kStart + "\n[ERROR] Invalid system area!\n" + kStop, 262144, 0},
    {"system-area read fails", "no-reply:0x77:3", kGood, {}, Scenario::kValid, true, false,
     false, -20, kStart + "[ERROR] Fail to read OTP data! (-20)\n" + kStop, 262144, 0},
    {"main area not blank", "", kGood, {{0x1234, 0x7F}}, Scenario::kValid, true, true, true,
     -57,
     kStart + kIdentified + "VDD adjusted @ VDD=5.06V, VPP=5.06V.\n\n[ERROR] OTP NOT blank!\n" +
         kStop,
     262144, 0},
    {"system area not blank", "", kGood, {{kSize - 200, 0x00}}, Scenario::kValid, true, true,
     true, -56,
     kStart + kIdentified +
         "VDD adjusted @ VDD=5.06V, VPP=5.06V.\n\n\n[ERROR] OTP NOT blank!\n" + kStop,
     262144, 0},
    {"image one byte short", "", kGood, {}, Scenario::kShort, false, true, true, -52,
     kStart + kIdentified + "Import File: {image}\n[ERROR] File and OTP size NOT match!\n" +
         "File: 262143 bytes\nOTP: 262144 bytes.\n" + kStop,
     262144, 0},
    {"image one byte long", "", kGood, {}, Scenario::kLong, false, false, true, -52,
     kStart + kIdentified + "Import File: {image}\n[ERROR] File and OTP size NOT match!\n" +
         "File: 262145 bytes\nOTP: 262144 bytes.\n" + kStop,
     262144, 0},
    {"image missing", "", kGood, {}, Scenario::kMissing, false, true, false, -40,
     kStart + kIdentified + "[ERROR] Failed to open file: {image}\n" + kStop, 262144, 0},
    {"no image name for the write", "", kGood, {}, Scenario::kNull, false, true, true, -40,
     kStart + kIdentified + "[ERROR] Failed to open file: \n" + kStop, 262144, 0},
    {"no image name for the verify", "", kGood, {}, Scenario::kNull, false, false, true, -40,
     kStart + kIdentified + "[ERROR] Failed to open file: \n" + kStop, 262144, 0},
    {"write begin refused", "wrong-status:0x73", kGood, {}, Scenario::kValid, false, true, true,
     -59,
     kStart + kIdentified + "Import File: {image}\nVDD adjusted @ VDD=5.41V, VPP=5.41V.\n" +
         "[ERROR] Fail to write OTP data! (-59)\n" + kStop,
     262144, 1},
    {"data report lost", "write-fails:0x74:100", kGood, {}, Scenario::kValid, false, true, true,
     -20,
     kStart + kIdentified + "Import File: {image}\nVDD adjusted @ VDD=5.41V, VPP=5.41V.\n" +
         "OTP write in VPP=6.50V.\n[ERROR] Fail to write OTP data! (-20)\n" + kStop,
     262144, 1},
    {"programmer gone mid-write", "disconnect:1000", kGood, {}, Scenario::kValid, false, true,
     true, -20,
     kStart + kIdentified + "Import File: {image}\nVDD adjusted @ VDD=5.41V, VPP=5.41V.\n" +
         "OTP write in VPP=6.50V.\n[ERROR] Fail to write OTP data! (-20)\n" +
         "Failed to stop OTP test!! (-20)\n",
     262144, 1},
    {"write end refused", "wrong-status:0x75", kGood, {}, Scenario::kValid, false, true, true,
     -59,
     kStart + kIdentified + "Import File: {image}\nVDD adjusted @ VDD=5.41V, VPP=5.41V.\n" +
         "OTP write in VPP=6.50V.\n\n[ERROR] Fail to write OTP data! (-59)\n" + kStop,
     262144, 1},
    {"verify begin garbled", "wrong-echo:0x79", kGood, {}, Scenario::kValid, false, true, true,
     -30,
     kStart + kIdentified + kWrite + "Import File: {image}\n" +
         "VDD adjusted @ VDD=5.06V, VPP=5.06V.\n[ERROR] Fail to verify OTP data! (-30)\n" + kStop,
     262144, 1},
    {"verify verdict lost", "no-reply:0x7B", kGood, {}, Scenario::kValid, false, false, true,
     -20,
     kStart + kIdentified + "Import File: {image}\nVDD adjusted @ VDD=5.06V, VPP=5.06V.\n\n" +
         "[ERROR] Fail to verify OTP data! (-20)\n" + kStop,
     262144, 0},
    {"main-area cell will not program", "stuck:0x2345", kGood, {}, Scenario::kValid, false,
     true, true, -56,
     kStart + kIdentified + kWrite + "Import File: {image}\n" +
         "VDD adjusted @ VDD=5.06V, VPP=5.06V.\n\n[ERROR] Data NOT match!\n" + kStop,
     262144, 1},
    {"system-area cell will not program", "stuck:0x3FED4:0x01", kGood, {}, Scenario::kValid,
     false, true, true, -56,
     kStart + kIdentified + kWrite + "Import File: {image}\n" +
         "VDD adjusted @ VDD=5.06V, VPP=5.06V.\n\n\n[ERROR] Data NOT match!\n" + kStop,
     262144, 1},
    {"VDD adjustment refused", "wrong-status:0x7C", kGood, {}, Scenario::kValid, true, false,
     false, 0,
     kStart + kIdentified + "[ERROR] Failed to adjust OTP VDD!! (-59)\n\n\n" +
         "OTP blank check complete.\n" + kStop,
     262144, 0},
};

TEST_F(UsbWriterEndToEnd, EveryFailureGivesItsCodeAndMessages) {
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    lib.reset();
    ASSERT_EQ(lib.addFaults(s.faults), 0);
    lib.setChipId(s.id[0], s.id[1], s.id[2], s.id[3]);
    for (const auto& [cell, value] : s.presets) lib.presetCell(cell, value);
    std::vector<uint8_t> image = ValidImage(kSize, systemArea, 11);
    image[0x2345] = 0x00;
    image[0x3FED4] = 0xFE;  // k = 300, among the tables
    if (s.image == Scenario::kShort) image.pop_back();
    if (s.image == Scenario::kLong) image.push_back(0xFF);
    std::filesystem::remove(imagePath);
    if (s.image != Scenario::kMissing) WriteFile(imagePath, image);
    Job job;
    job.blankCheck = s.blankCheck;
    job.write = s.write;
    job.verify = s.verify;
    job.imageFile = s.image == Scenario::kNull ? nullptr : imagePath.c_str();
    const Outcome outcome = lib.Call(job);
    EXPECT_EQ(outcome.result, s.result);
    EXPECT_EQ(outcome.output, WithImage(s.output, imagePath));
    EXPECT_EQ(outcome.otpSize, s.otpSize);
    EXPECT_EQ(outcome.stage, 0);
    EXPECT_EQ(lib.requestCount(0x73), s.writeBegins);
  }
}

TEST_F(UsbWriterEndToEnd, HostsConfigureTheEmulatorThroughTheEnvironment) {
  {
    ScopedEnv id("QS71_EMU_ID", "6D611603");
    const Outcome outcome = lib.Call(Job{});
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.otpSize, 2097152);
    EXPECT_NE(outcome.output.find("OTP ID: 0x6D, 0x61, 0x16, 0x03."), std::string::npos);
  }
  {
    ScopedEnv faults("QS71_EMU_FAULTS", "wrong-status:0x72");
    EXPECT_EQ(lib.Call(Job{}).result, -59);
  }
  {
    ScopedEnv faults("QS71_EMU_FAULTS", "no-device");
    EXPECT_EQ(lib.Call(Job{}).output, kNoProgrammer);
  }
  {
    ScopedEnv id("QS71_EMU_ID", "6D61");
    testing::internal::CaptureStderr();
    EXPECT_EQ(lib.Call(Job{}).result, -20);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("QS71_EMU_ID"), std::string::npos);
  }
  {
    // Settings made through the control interface win over the environment.
    ScopedEnv id("QS71_EMU_ID", "6D611600");
    lib.setChipId(0x6D, 0x61, 0x04, 0x00);
    EXPECT_EQ(lib.Call(Job{}).otpSize, 524288);
  }
  lib.reset();
  for (const char* pace : {"-1", "100001", "1000000", "2ms", " 5"}) {
    ScopedEnv paced("QS71_EMU_PACE_US", pace);
    testing::internal::CaptureStderr();
    EXPECT_EQ(lib.Call(Job{}).result, -20) << pace;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("QS71_EMU_PACE_US"), std::string::npos)
        << pace;
  }
  {
    // A paced blank check takes at least its requests' share of time, less the last
    // millisecond the pace lets run ahead.
    ScopedEnv paced("QS71_EMU_PACE_US", "20");
    Job blankCheck;
    blankCheck.blankCheck = true;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lib.Call(blankCheck).result, 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const int requests = lib.requestCount(-1);
    EXPECT_GT(requests, 8176);
    EXPECT_GE(elapsed, std::chrono::microseconds(20 * requests - 1000));
  }
  {
    const std::filesystem::path otpFile = ScratchFolder(QS71_TEST_TMPDIR, "e2e") / "env.otp";
    std::filesystem::remove(otpFile);
    ScopedEnv file("QS71_EMU_OTP_FILE", otpFile.string());
    EXPECT_EQ(lib.Call(Job{}).result, 0);
    EXPECT_EQ(ReadFileBytes(otpFile).size(), kSize);
  }
}

}  // namespace
}  // namespace qs71::test
