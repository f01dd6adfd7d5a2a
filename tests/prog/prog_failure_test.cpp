// Every way a job can fail ends with its own exit code and says where it failed.

#include <gtest/gtest.h>

#include <regex>

#include "attached_programmer.h"
#include "case_names.h"
#include "file_contents.h"
#include "json_events.h"
#include "prog_run.h"
#include "test_scratch.h"

namespace qs71prog::test {
namespace {

struct FailureCase {
  const char* name;
  Environment environment;
  std::vector<std::string> arguments;  // "IMAGE" stands for the generated image
  int exit;
  std::string summary;  // part of the closing line on standard error
  bool reachesHardware = false;  // calls the production library, which talks to any programmer
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

// Each case in its own folder: ctest runs them in parallel processes.
class ProgFailure : public testing::TestWithParam<FailureCase> {
 protected:
  void SetUp() override {
    if (GetParam().reachesHardware) {
      if (const std::string why = AttachedProgrammerWarning(); !why.empty()) GTEST_SKIP() << why;
    }
    image = GeneratedImage(
        CleanScratchFolder(QS71_TEST_TMPDIR, std::string("failure_") + GetParam().name));
  }

  std::filesystem::path image;
};

// The first cell the demo image programs: a cell stuck at 0xFF there shows in the verify.
std::string FirstProgrammedCell(const std::filesystem::path& image) {
  const std::vector<uint8_t> bytes = ReadFileBytes(image);
  size_t cell = 0;
  while (cell < bytes.size() && bytes[cell] == 0xFF) ++cell;
  return std::to_string(cell);
}

TEST_P(ProgFailure, EndsWithItsExitCode) {
  const FailureCase& c = GetParam();
  ASSERT_FALSE(image.empty());
  std::vector<std::string> arguments = c.arguments;
  for (std::string& argument : arguments) {
    if (argument == "IMAGE") argument = image.string();
  }
  Environment environment = c.environment;
  for (auto& [name, value] : environment) {
    if (value == "stuck:FIRST") value = "stuck:" + FirstProgrammedCell(image);
  }
  const ProcessResult run = RunProg(arguments, environment);
  EXPECT_EQ(run.exitCode, c.exit) << run.out << run.err;
  EXPECT_NE(run.err.find(c.summary), std::string::npos) << run.err;

  arguments.push_back("--json");
  const ProcessResult json = RunProg(arguments, environment);
  EXPECT_EQ(json.exitCode, c.exit);
  const std::vector<JsonEvent> events = ParseEvents(json.out);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().Text("event"), "result") << json.out;
  EXPECT_EQ(events.back().Number("exit"), c.exit);
}

const std::string kMissing = "/nonexistent/qs71/voice.bin";

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgFailure,
    testing::Values(
        FailureCase{"NoProgrammer",
                    {{"QS71_EMU_FAULTS", "no-device"}},
                    {"--emulate", "--blank-check"},
                    3,
                    "failed in connect: the programmer is not open"},
        FailureCase{"HandleDoesNotOpen",
                    {{"QS71_EMU_FAULTS", "read-open-fails"}},
                    {"--emulate", "--write", "IMAGE"},
                    3,
                    "exit 3 (no-programmer)"},
        FailureCase{"WrongChipId",
                    {{"QS71_EMU_ID", "12340200"}},
                    {"--emulate", "--blank-check"},
                    4,
                    "failed in identify: the chip's ID is not 6D 61 (-50)"},
        FailureCase{"UnknownSize",
                    {{"QS71_EMU_ID", "6D611000"}},
                    {"--emulate", "--write", "IMAGE"},
                    4,
                    "failed in identify: the chip's size code is unknown (-51)"},
        FailureCase{
            "ImageSizeMismatch",
            {{"QS71_EMU_ID", "6D610400"}},
            {"--emulate", "--write", "IMAGE"},
            5,
            "failed in write: the image file's size differs from the chip's OTP size (-52)"},
        FailureCase{"VerifySizeMismatch",
                    {{"QS71_EMU_ID", "6D610800"}},
                    {"--emulate", "--verify", "IMAGE"},
                    5,
                    "failed in verify:"},
        FailureCase{"MissingImage",
                    {},
                    {"--emulate", "--write", kMissing},
                    9,
                    "cannot open the image /nonexistent/qs71/voice.bin: no such file"},
        FailureCase{"WriteEndRefused",
                    {{"QS71_EMU_FAULTS", "wrong-status:0x75"}},
                    {"--emulate", "--write", "IMAGE"},
                    7,
                    "failed in write: the programmer's reply has an unexpected status byte (-59)"},
        FailureCase{"WriteDataLost",
                    {{"QS71_EMU_FAULTS", "write-fails:0x74:100"}},
                    {"--emulate", "--write", "IMAGE"},
                    7,
                    "failed in write: the programmer is not open"},
        FailureCase{
            "StuckCell",
            {{"QS71_EMU_FAULTS", "stuck:FIRST"}},
            {"--emulate", "--write", "IMAGE"},
            8,
            "failed in verify: the system area is not blank, or the data does not match (-56)"},
        // Faults count per call, and the verify is a call of its own: without a blank check
        // its end is the first 0x7B of its call.
        FailureCase{"VerifyNeverAnswered",
                    {{"QS71_EMU_FAULTS", "no-reply:0x7B"}},
                    {"--emulate", "--write", "IMAGE", "--no-blank-check"},
                    1,
                    "failed in verify:"},
        FailureCase{"BlankCheckNeverAnswered",
                    {{"QS71_EMU_FAULTS", "no-reply:0x79"}},
                    {"--emulate", "--write", "IMAGE"},
                    1,
                    "failed in blank-check:"},
        FailureCase{"NoLibrary",
                    {},
                    {"--library", "/nonexistent/libqs71.so", "--blank-check"},
                    10,
                    "cannot load the programmer library: /nonexistent/libqs71.so"},
        FailureCase{"DryRunOnRealHardwareRefused",
                    {},
                    {"--library", QS71_PRODUCTION_LIBRARY, "--emulate", "--blank-check"},
                    10,
                    "--emulate needs the emulated programmer library"},
        FailureCase{"ProductionLibraryWithoutProgrammer",
                    {},
                    {"--library", QS71_PRODUCTION_LIBRARY, "--blank-check"},
                    3,
                    "failed in connect:",
                    /*reachesHardware=*/true}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

struct UsageCase {
  std::vector<std::string> arguments;
  std::string complaint;
};

class ProgUsage : public testing::TestWithParam<UsageCase> {};

TEST_P(ProgUsage, IsRefusedBeforeTheProgrammerIsTouched) {
  const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::string transcript =
      (CleanScratchFolder(QS71_TEST_TMPDIR, "usage_" + name.substr(name.rfind('/') + 1)) /
       "wire.txt")
          .string();
  const ProcessResult run = RunProg(GetParam().arguments, {{"QS71_EMU_TRANSCRIPT", transcript}});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("qs71prog: " + GetParam().complaint), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Try 'qs71prog --help'."), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(transcript)) << "the programmer was opened";
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgUsage,
                         testing::Values(UsageCase{{"--emulate", "--write", "a.bin", "--vpp", "65"},
                                                   "--vpp 65 V is outside"},
                                         UsageCase{{"--emulate", "--blank-check", "--vdd", "12"},
                                                   "--vdd 12 V is outside"},
                                         UsageCase{{"--emulate", "--blank-check", "--erase"},
                                                   "unknown option --erase"},
                                         UsageCase{{"--emulate"}, "nothing to do"},
                                         UsageCase{{"--blank-check", "--transcript", "t.txt"},
                                                   "--transcript records the emulated"}),
                         [](const testing::TestParamInfo<UsageCase>& info) {
                           return CaseName(info.param.arguments);
                         });

TEST(ProgHelp, ListsTheExitCodesAndTheVoltages) {
  const ProcessResult run = RunProg({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("Exit codes:\n   0  ok"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("10  library-missing"), std::string::npos);
  EXPECT_NE(run.out.find("--vpp V"), std::string::npos);
  EXPECT_NE(run.out.find("--vpp V                write VPP, default 6.5 (6.0 to 7.0)"),
            std::string::npos);
  const ProcessResult version = RunProg({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("qs71prog ", 0), 0u);
  // Then the PostgreSQL client and the OpenSSL below it, as they run.
  const std::regex lines("qs71prog [0-9.]+\n"
                         "libpq [0-9]+\\.[0-9]+, OpenSSL [0-9]+\\.[0-9]+\\.[0-9]+\n");
  EXPECT_TRUE(std::regex_match(version.out, lines)) << version.out;
}

}  // namespace
}  // namespace qs71prog::test
