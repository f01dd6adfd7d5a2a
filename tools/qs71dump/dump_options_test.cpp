// The command line: each option in both spellings, and the mistakes a user makes.

#include "dump_options.h"

#include <gtest/gtest.h>

#include "dump_result.h"

namespace {

struct OptionsCase {
  std::vector<std::string> args;
  int result;
  const char* problem;  // for DumpUsage: part of the text
};

const OptionsCase kCases[] = {
    {{"a.bin"}, DumpOk, ""},
    {{"--json", "--extract", "out", "a.bin"}, DumpOk, ""},
    {{"a.bin", "--main-clock=8192000", "--grpadr", "2", "--offset", "-0x100"}, DumpOk, ""},
    {{"--help"}, DumpOk, ""},
    {{"-V"}, DumpOk, ""},
    {{"--version=1"}, DumpUsage, "unknown option --version=1"},
    {{}, DumpUsage, "no image given"},
    {{"a.bin", "b.bin"}, DumpUsage, "more than one image: b.bin"},
    {{"a.bin", "--frobnicate"}, DumpUsage, "unknown option --frobnicate"},
    {{"a.bin", "--json=1"}, DumpUsage, "unknown option --json=1"},
    {{"a.bin", "--extract"}, DumpUsage, "--extract needs a value"},
    {{"a.bin", "--extract="}, DumpUsage, "invalid value for --extract"},
    {{"--html", "a.html", "a.bin"}, DumpOk, ""},
    {{"a.bin", "--html"}, DumpUsage, "--html needs a value"},
    {{"a.bin", "--html="}, DumpUsage, "invalid value for --html"},
    {{"a.bin", "--grpadr", "5"}, DumpUsage, "invalid value for --grpadr: 5"},
    {{"a.bin", "--grpadr", "0"}, DumpUsage, "invalid value for --grpadr"},
    {{"a.bin", "--main-clock", "0"}, DumpUsage, "invalid value for --main-clock"},
    {{"a.bin", "--main-clock", "16M"}, DumpUsage, "invalid value for --main-clock: 16M"},
    {{"a.bin", "--offset", "0x80000000"}, DumpUsage, "invalid value for --offset"},
};

TEST(DumpOptions, AcceptsTheOptionsAndNamesTheMistakes) {
  for (const OptionsCase& c : kCases) {
    DumpOptions options;
    std::string problem;
    EXPECT_EQ(ParseDumpOptions(c.args, &options, &problem), c.result) << c.problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
}

TEST(DumpOptions, ValuesReachTheSettings) {
  DumpOptions o;
  std::string problem;
  ASSERT_EQ(ParseDumpOptions({"a.bin", "--main-clock=8192000", "--grpadr", "2", "--offset",
                              "-0x100", "--extract", "dir", "--json"},
                             &o, &problem),
            DumpOk);
  EXPECT_EQ(o.image, "a.bin");
  EXPECT_EQ(o.settings.mainClockHz, 8192000);
  EXPECT_EQ(o.settings.grpAdr, 2);
  EXPECT_TRUE(o.settings.offsetGiven);
  EXPECT_EQ(o.settings.offset, -256);
  EXPECT_EQ(o.extractDir, "dir");
  EXPECT_TRUE(o.json);
  DumpOptions defaults;
  ASSERT_EQ(ParseDumpOptions({"a.bin"}, &defaults, &problem), DumpOk);
  EXPECT_EQ(defaults.settings.mainClockHz, 16384000);
  EXPECT_EQ(defaults.settings.grpAdr, 0);
  EXPECT_FALSE(defaults.settings.offsetGiven);
}

}  // namespace
