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
