#include "text_format.h"

#include <gtest/gtest.h>

namespace {

struct QuoteCase {
  const char* path;
  const char* posix;
  const char* cmd;
};

// Plain names stay bare so that hints read as people write them; anything a shell would split
// or expand is quoted.
const QuoteCase kQuoteCases[] = {
    {"hello.wav", "hello.wav", "hello.wav"},
    {"sounds/01-hi_there.wav", "sounds/01-hi_there.wav", "sounds/01-hi_there.wav"},
    {"C:\\Voice\\hi.wav", "'C:\\Voice\\hi.wav'", "C:\\Voice\\hi.wav"},
    {"Voice Prompts/01 Hello.wav", "'Voice Prompts/01 Hello.wav'", "\"Voice Prompts/01 Hello.wav\""},
    {"it's.wav", "'it'\\''s.wav'", "\"it's.wav\""},
    {"a&b(1).wav", "'a&b(1).wav'", "\"a&b(1).wav\""},
    {"$HOME.wav", "'$HOME.wav'", "\"$HOME.wav\""},
    {"", "''", "\"\""},
    // A word pasted from the fit's `compiled as:` line: nothing of it may run.
    {"a `id` $(id).qs", "'a `id` $(id).qs'", "\"a `id` $(id).qs\""},
    {"C:\\my dir\\", "'C:\\my dir\\'", "\"C:\\my dir\\\\\""},
    // cmd.exe expands % inside double quotes, and a quote would end them: every special
    // character outside quotes, with ^, and a % followed by ^ so that it starts no variable.
    {"100%.wav", "100%.wav", "^\"100^%^.wav^\""},
    {"%PATH%", "%PATH%", "^\"^%^PATH^%^\""},
    {"50%\\x & y", "'50%\\x & y'", "^\"50^%^\\x ^& y^\""},
    {"say \"hi\" !", "'say \"hi\" !'", "^\"say \\^\"hi\\^\" ^!^\""},
    {"a\\\"b", "'a\\\"b'", "^\"a\\\\\\^\"b^\""},
};

TEST(ShellWordTest, QuotesWhatTheShellWouldSplit) {
  for (const QuoteCase& c : kQuoteCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(PosixShellWord(c.path), c.posix);
    EXPECT_EQ(CmdShellWord(c.path), c.cmd);
  }
}

}  // namespace

TEST(VisibleTextTest, WritesControlsAndStrayBytesAsEscapes) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"ann", "ann"},
      {"Jos\xC3\xA9 \xE2\x82\xAC", "Jos\xC3\xA9 \xE2\x82\xAC"},  // UTF-8 stays
      {"\x1B[2Jbob", "\\x1B[2Jbob"},
      {"a\tb\nc\x7F", "a\\x09b\\x0Ac\\x7F"},
      {"\xC2\x9B" "31m", "\\u009B31m"},  // C1 CSI
      {"Jos\xE9", "Jos\\xE9"},            // Latin-1
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},  // a surrogate
      {"\xE2\x82", "\\xE2\\x82"},      // cut short
  };
  for (const auto& c : cases) EXPECT_EQ(VisibleText(c.text), c.shown) << c.text;
}
