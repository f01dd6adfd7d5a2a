#include "cli/prog_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "case_names.h"
#include "test_scratch.h"

namespace qs71prog {
namespace {

struct ParsedCase {
  std::vector<std::string> arguments;
  bool blankCheck, write, verify;
  std::string image;
};

class ParsedOptions : public testing::TestWithParam<ParsedCase> {};

TEST_P(ParsedOptions, SelectsTheOperations) {
  const ParsedCase& c = GetParam();
  Options options;
  std::string error;
  ASSERT_EQ(ParseArguments(c.arguments, options, error), Command::kRun) << error;
  EXPECT_EQ(options.selection.blankCheck, c.blankCheck);
  EXPECT_EQ(options.selection.write, c.write);
  EXPECT_EQ(options.selection.verify, c.verify);
  EXPECT_EQ(options.image, c.image);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ParsedOptions,
    testing::Values(
        ParsedCase{{"--blank-check"}, true, false, false, ""},
        // A write on OTP is guarded both ways unless the operator says otherwise.
        ParsedCase{{"--write", "a.bin"}, true, true, true, "a.bin"},
        ParsedCase{{"--write=a.bin"}, true, true, true, "a.bin"},
        ParsedCase{{"--write", "a.bin", "--no-verify"}, true, true, false, "a.bin"},
        ParsedCase{{"--write", "a.bin", "--no-blank-check"}, false, true, true, "a.bin"},
        ParsedCase{{"--write", "a.bin", "--verify", "a.bin"}, true, true, true, "a.bin"},
        ParsedCase{{"--verify", "b.bin"}, false, false, true, "b.bin"},
        ParsedCase{{"--identify"}, false, false, false, ""}),
    [](const testing::TestParamInfo<ParsedCase>& info) { return CaseName(info.param.arguments); });

struct UsageCase {
  std::vector<std::string> arguments;
  std::string complaint;  // a part of the error text
};

class UsageErrors : public testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, AreRefusedWithAReason) {
  const UsageCase& c = GetParam();
  Options options;
  std::string error;
  EXPECT_EQ(ParseArguments(c.arguments, options, error), Command::kUsageError);
  EXPECT_NE(error.find(c.complaint), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, UsageErrors,
    testing::Values(
        UsageCase{{}, "nothing to do"}, UsageCase{{"--json"}, "nothing to do"},
        UsageCase{{"--frobnicate"}, "unknown option --frobnicate"},
        UsageCase{{"image.bin"}, "unexpected argument \"image.bin\""},
        UsageCase{{"--write"}, "--write needs a value"},
        UsageCase{{"--write", "--verify", "a.bin"}, "--write needs a value"},
        UsageCase{{"--write="}, "--write needs an image file name"},
        UsageCase{{"--blank-check=yes"}, "--blank-check takes no value"},
        UsageCase{{"--emulate=", "--blank-check"}, "--emulate= needs a file name"},
        UsageCase{{"--write", "a.bin", "--verify", "b.bin"}, "must name the same image"},
        UsageCase{{"--write", "a.bin", "--verify", "a.bin", "--no-verify"}, "contradicts"},
        UsageCase{{"--blank-check", "--write", "a.bin", "--no-blank-check"}, "contradicts"},
        UsageCase{{"--verify", "a.bin", "--no-verify"}, "contradicts"},
        UsageCase{{"--blank-check", "--no-verify"}, "only change what --write does"},
        UsageCase{{"--verify", "a.bin", "--clear-marker"}, "--clear-marker needs --write"},
        UsageCase{{"--blank-check", "--force"}, "--force only changes"},
        UsageCase{{"--blank-check", "--transcript", "t.txt"}, "needs --emulate"},
        UsageCase{{"--blank-check", "--vdd", "five"}, "needs a voltage in volts, not \"five\""},
        UsageCase{{"--blank-check", "--vdd", "nan"}, "needs a voltage"},
        UsageCase{{"--blank-check", "--vdd", "5.5.5"}, "needs a voltage"},
        UsageCase{{"--blank-check", "--vdd", "6"},
                  "--vdd 6 V is outside the safe range 2.4 to 5.5"},
        UsageCase{{"--blank-check", "--vpp", "65"},
                  "--vpp 65 V is outside the safe range 6.0 to 7.0"},
        UsageCase{{"--blank-check", "--vpp", "5.9"}, "outside the safe range"},
        UsageCase{{"--blank-check", "--write-vdd", "2.3"}, "--write-vdd 2.3 V is outside"},
        UsageCase{{"--blank-check", "--verify-vdd", "-5"}, "outside the safe range"},
        UsageCase{{"--production", "--verify", "a.bin"}, "--production needs --write"},
        UsageCase{{"--write", "a.bin", "--count", "3"}, "go with --production"},
        UsageCase{{"--write", "a.bin", "--all"}, "go with --production"},
        UsageCase{{"--write", "a.bin", "--bell"}, "--no-color and --bell go with --production"},
        UsageCase{{"--write", "a.bin", "--production", "--expect-programmers", "0"},
                  "--expect-programmers needs a number of programmers from 1 to 64"},
        UsageCase{{"--write", "a.bin", "--production", "--expect-sha256", "abc"},
                  "--expect-sha256 needs the image's SHA-256 as 64 hex digits"},
        UsageCase{{"--write", "a", "--production", "--count", "0"}, "from 1 to 1000000"},
        UsageCase{{"--write", "a", "--production", "--count", "2x"}, "not \"2x\""},
        UsageCase{{"--write", "a", "--production", "--all", "--programmer", "2"}, "one of them"},
        UsageCase{{"--write", "a", "--production", "--emulate=c.otp"}, "QS71_EMU_SOCKET"},
        UsageCase{{"--list", "--identify"}, "--list only lists"}),
    [](const testing::TestParamInfo<UsageCase>& info) { return CaseName(info.param.arguments); });

// The job files' options. "JOB" stands for a file that exists, which makes --job a job file.
struct JobOptionCase {
  std::vector<std::string> arguments;
  std::string complaint;  // empty: accepted
};

class JobFileOptions : public testing::TestWithParam<JobOptionCase> {
 protected:
  std::vector<std::string> WithJobFile(std::vector<std::string> arguments) {
    const std::filesystem::path dir = ScratchFolder(QS71_TEST_TMPDIR, "JobFileOptions");
    const std::string job = (dir / "doorbell.job").string();
    std::ofstream(job) << "QS71JOB 1\n";
    for (std::string& argument : arguments) argument = argument == "JOB" ? job : argument;
    return arguments;
  }
};

TEST_P(JobFileOptions, FollowTheirRules) {
  const JobOptionCase& c = GetParam();
  Options options;
  std::string error;
  const Command command = ParseArguments(WithJobFile(c.arguments), options, error);
  if (c.complaint.empty()) {
    EXPECT_EQ(command, Command::kRun) << error;
    return;
  }
  EXPECT_EQ(command, Command::kUsageError);
  EXPECT_NE(error.find(c.complaint), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, JobFileOptions,
    testing::Values(
        JobOptionCase{{"--job", "JOB", "--production", "--trust", "k.pub", "--log", "l.csv"}, ""},
        JobOptionCase{{"--job", "JOB", "--production", "--write", "a.bin"},
                      "--write cannot be given with the job file"},
        JobOptionCase{{"--job", "JOB", "--production", "--vpp", "6.2"},
                      "--vpp cannot be given with the job file"},
        JobOptionCase{{"--job", "JOB", "--production", "--vdd", "5"},
                      "--vdd cannot be given with the job file"},
        JobOptionCase{{"--job", "JOB", "--production", "--verify-vdd", "5"},
                      "--verify-vdd cannot be given"},
        JobOptionCase{{"--job", "JOB", "--production", "--no-verify"},
                      "--no-verify cannot be given with the job file"},
        JobOptionCase{{"--job", "JOB", "--production", "--no-blank-check"},
                      "--no-blank-check cannot be given with the job file"},
        JobOptionCase{{"--job", "JOB", "--production", "--count", "3"},
                      "--count cannot be given with the job file"},
        JobOptionCase{{"--job", "JOB", "--production", "--job-name", "x"},
                      "--job-name cannot be given with the job file"},
        JobOptionCase{{"--job", "JOB", "--write", "a.bin"}, "--write cannot be given"},
        JobOptionCase{{"--job", "JOB"}, "go with --production"},
        // No file of that name: the label it has always been.
        JobOptionCase{{"--job", "no such job", "--write", "a.bin", "--production"}, ""},
        JobOptionCase{{"--job", "x", "--job-name", "y", "--write", "a.bin", "--production"},
                      "give --job-name alone"},
        JobOptionCase{{"--production"}, "--production needs --write IMAGE or --job FILE"},
        JobOptionCase{{"--make-job", "j", "--write", "a.bin", "--vpp", "6.2", "--lot", "0",
                       "--sign", "k", "--job-name", "n", "--work-order", "w"},
                      ""},
        JobOptionCase{{"--make-job", "j"}, "--make-job needs --write IMAGE"},
        JobOptionCase{{"--make-job", "j", "--write", "a.bin", "--production"},
                      "--production does not go with --make-job"},
        JobOptionCase{{"--make-job", "j", "--write", "a.bin", "--force"},
                      "--force does not go with --make-job"},
        JobOptionCase{{"--make-job", "j", "--write", "a", "--lot", "-1"}, "--lot needs a number"},
        JobOptionCase{{"--make-key", "k", "--json"}, "--json does not go with --make-key"},
        JobOptionCase{{"--make-key="}, "a file name must follow --make-key"},
        JobOptionCase{{"--show-job", "j", "--make-key", "k"}, "--show-job does not go with --make-key"},
        JobOptionCase{{"--show-job", "j", "--json", "--trust", "k.pub"}, ""},
        JobOptionCase{{"--write", "a.bin", "--sign", "k"}, "go with --make-job"},
        JobOptionCase{{"--write", "a.bin", "--trust", "k.pub"},
                      "--trust goes with --job FILE and --show-job"},
        JobOptionCase{{"--export-csv", "o.csv", "--trace", "t.db", "--run", "r", "--since", "2026"}, ""},
        JobOptionCase{{"--report", "-", "--job", "3f2a9c"}, ""},
        JobOptionCase{{"--report", "-", "--write", "a.bin"}, "--write does not go with --report"},
        JobOptionCase{{"--report", "-", "--export-csv", "o.csv"}, "--report does not go with --export-csv"},
        JobOptionCase{{"--write", "a.bin", "--trace", "t.db"},
                      "--trace goes with --production, --export-csv and --report"},
        JobOptionCase{{"--report", "-", "--trace", "host=db user=line password=s3cret"},
                      "not libpq's keyword=value words"},
        JobOptionCase{{"--report", "-", "--trace", "my trace=1.db"}, ""},
        JobOptionCase{{"--write", "a.bin", "--production", "--since", "2026"},
                      "--run and --since choose what --export-csv and --report read"}),
    [](const testing::TestParamInfo<JobOptionCase>& info) {
      return CaseName(info.param.arguments);
    });

TEST(JobFileOptions, AJobFileIsTheRunsImage) {
  // A name that exists is a job file (whatever it holds; its loader judges it later).
  std::filesystem::create_directories(QS71_TEST_TMPDIR);
  Options options;
  std::string error;
  ASSERT_EQ(ParseArguments({"--job", QS71_TEST_TMPDIR, "--production"}, options, error),
            Command::kRun)
      << error;
  EXPECT_EQ(options.jobFile, QS71_TEST_TMPDIR);
  EXPECT_EQ(options.image, QS71_TEST_TMPDIR);
  EXPECT_EQ(options.jobName, "");
  ASSERT_EQ(ParseArguments({"--job", "Doorbell", "--write", "a.bin", "--production"}, options,
                           error),
            Command::kRun);
  EXPECT_EQ(options.jobFile, "");
  EXPECT_EQ(options.jobName, "Doorbell");
}

TEST(Voltages, DefaultsApplyWhenNothingIsGiven) {
  Options options;
  std::string error;
  ASSERT_EQ(ParseArguments({"--write", "a.bin"}, options, error), Command::kRun);
  EXPECT_DOUBLE_EQ(options.Volts(Voltage::kBlankCheckVdd), 5.0);
  EXPECT_DOUBLE_EQ(options.Volts(Voltage::kWriteVdd), 5.5);
  EXPECT_DOUBLE_EQ(options.Volts(Voltage::kWriteVpp), 6.5);
  EXPECT_DOUBLE_EQ(options.Volts(Voltage::kVerifyVdd), 5.0);
}

TEST(Voltages, PerOperationValueBeatsVddWhateverTheOrder) {
  Options options;
  std::string error;
  ASSERT_EQ(
      ParseArguments({"--verify-vdd", "2.5V", "--write", "a", "--vdd", "4.5", "--vpp", "6.25"},
                     options, error),
      Command::kRun)
      << error;
  EXPECT_DOUBLE_EQ(options.Volts(Voltage::kBlankCheckVdd), 4.5);
  EXPECT_DOUBLE_EQ(options.Volts(Voltage::kWriteVdd), 4.5);
  EXPECT_DOUBLE_EQ(options.Volts(Voltage::kWriteVpp), 6.25);
  EXPECT_DOUBLE_EQ(options.Volts(Voltage::kVerifyVdd), 2.5);
}

TEST(Voltages, RangeEndsAreAccepted) {
  Options options;
  std::string error;
  EXPECT_EQ(ParseArguments({"--blank-check", "--vdd", "2.4", "--vpp", "7.0"}, options, error),
            Command::kRun)
      << error;
  EXPECT_EQ(ParseArguments({"--blank-check", "--vdd", "5.5v", "--vpp", "6"}, options, error),
            Command::kRun)
      << error;
}

TEST(Emulation, KeepsTheChipFileAndTranscript) {
  Options options;
  std::string error;
  ASSERT_EQ(ParseArguments({"--emulate=chip.otp", "--transcript", "t.txt", "--blank-check",
                            "--json", "--clear-marker", "--write", "x.bin"},
                           options, error),
            Command::kRun)
      << error;
  EXPECT_TRUE(options.emulate);
  EXPECT_EQ(options.otpFile, "chip.otp");
  EXPECT_EQ(options.transcript, "t.txt");
  EXPECT_TRUE(options.json);
  EXPECT_TRUE(options.clearMarker);

  ASSERT_EQ(ParseArguments({"--emulate", "--blank-check"}, options, error), Command::kRun);
  EXPECT_TRUE(options.emulate);
  EXPECT_EQ(options.otpFile, "");
}

TEST(Production, TakesItsSettings) {
  Options options;
  std::string error;
  ASSERT_EQ(ParseArguments({"--write", "a.bin", "--production", "--count", "5", "--stop-on-fail",
                            "--log", "parts.csv", "--all"},
                           options, error),
            Command::kRun)
      << error;
  EXPECT_TRUE(options.production && options.stopOnFail && options.all);
  EXPECT_EQ(options.count, 5);
  EXPECT_EQ(options.log, "parts.csv");
  EXPECT_TRUE(options.selection.blankCheck && options.selection.write && options.selection.verify);

  std::string again;
  ASSERT_EQ(ParseArguments({"--identify", "--programmer=SN2"}, options, again), Command::kRun);
  EXPECT_EQ(options.programmer, "SN2");
}

TEST(HelpAndVersion, WinOverWhatFollows) {
  Options options;
  std::string error;
  EXPECT_EQ(ParseArguments({"--help", "--bogus"}, options, error), Command::kHelp);
  EXPECT_EQ(ParseArguments({"-h"}, options, error), Command::kHelp);
  EXPECT_EQ(ParseArguments({"--version"}, options, error), Command::kVersion);
  EXPECT_EQ(ParseArguments({"-V"}, options, error), Command::kVersion);
}

}  // namespace
}  // namespace qs71prog
