#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process_runner.h"

namespace {

struct NumberRow {
  std::vector<std::string> options;
  const char* error;  // qs71gen's line on standard error; "+" at its end: the pointer to --help follows
};

// Every option that takes a number, given one that is none: each is a usage error that names
// the option, before any file is read (the script named does not exist).
const NumberRow kNoNumbers[] = {
    {{"--loudness", "nan"}, "--loudness nan is not a number: give -70 to -1 LUFS+"},
    {{"--loudness=-inf"}, "--loudness -inf is not a number: give -70 to -1 LUFS+"},
    {{"--loudness", "1e999"}, "--loudness 1e999 is not a number: give -70 to -1 LUFS+"},
    {{"--trim", "NaN:20"}, "--trim NaN:20 is not a number: give -120 to -1 dBFS+"},
    {{"--trim", "-50:inf"}, "--trim -50:inf is out of range: give the hold in ms after the colon as 0 to 1000+"},
    {{"--highpass", "inf"}, "--highpass inf is not a number: give 1 to 4000 Hz+"},
    {{"--highpass", "80:nan"}, "--highpass 80:nan is out of range: give the order after the colon as 2 to 8+"},
    {{"--limit", "-nan"}, "--limit -nan is not a number: give -30 to 0 dBFS+"},
    {{"--adpcm-quality", "nan"}, "--adpcm-quality needs a level from 0 to 3, not nan+"},
    {{"--spl", "inf"},
     "--spl inf is not a number: give the toy's level in dB SPL for a full-scale 1 kHz sine, above 0 to 200+"},
    {{"--spl", "90", "--spl-limit", "nan"},
     "--spl-limit nan is not a number: give LAEQ or LAEQ:LCPEAK in dB, each above 0 to 200+"},
    {{"--spl", "90", "--spl-limit", "80:inf"},
     "--spl-limit 80:inf is not a number: give LAEQ or LAEQ:LCPEAK in dB, each above 0 to 200+"},
    {{"--rates=nan"}, "--rates takes a rate in Hz, not nan missing.qs missing.bin"},
    {{"--rates=inf"}, "--rates takes a rate in Hz, not inf missing.qs missing.bin"},
};

TEST(CommandLineTest, EveryNumberMustBeANumber) {
  for (const NumberRow& row : kNoNumbers) {
    std::vector<std::string> command{QS71GEN_PATH};
    command.insert(command.end(), row.options.begin(), row.options.end());
    command.insert(command.end(), {"missing.qs", "missing.bin"});
    SCOPED_TRACE(row.error);
    const testsupport::ProcessResult r = testsupport::RunProcess(command);
    EXPECT_EQ(r.exitCode, 254);
    EXPECT_EQ(r.out, "");
    std::string error = row.error;
    if (error.ends_with("+")) error.replace(error.size() - 1, 1, " (qs71gen --help lists the options)");
    EXPECT_EQ(r.err, "qs71gen: " + error + "\n");
  }
}

}  // namespace
