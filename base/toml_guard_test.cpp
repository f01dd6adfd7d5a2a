#include "toml_guard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct GuardRow {
  std::string text;
  unsigned line;      // 0: safe for toml++
  const char* start;  // how the hazard's text starts
};

const char kOutside[] = "a character that is not ASCII outside quotes";
const char kInValue[] = "a character that is not ASCII in a value that is no text";
const char kEscaped[] = "a character that is not ASCII after a backslash";
const char kLineEnd[] = "a character that is not ASCII first after a line-ending backslash";

// Each refused row reached __builtin_unreachable() in toml++ 3.3's whitespace table under
// UBSan; each safe row is valid TOML that toml++ reads without that test.
const GuardRow kRows[] = {
    {"a =+\"\xEF\xBB\x9E\"\n", 1, kInValue},  // the fuzzer's input: U+FEDE in a number's scan
    {"a = 1\"\xC3\xA9\"\n", 1, kInValue},
    {"a = 1.\"\xC3\xA9\"\n", 1, kInValue},
    {"a = 1'\xC3\xA9'\n", 1, kInValue},
    {"a = +\"\xC2\xA1\"\n", 1, kInValue},
    {"a = -0x\"\xE3\x80\x81\"\n", 1, kInValue},
    {"a = 1=\"\xC3\xA9\"\n", 1, kInValue},
    {"x = 1\na = [1,\n  2\"\xC3\xA9\"]\n", 3, kInValue},
    {"a = { b = 1\"\xC3\xA9\" }\n", 1, kInValue},
    {"a = [{ b = \"\xC3\xA9\" }, 1\"\xC3\xA9\"]\n", 1, kInValue},
    {"a = 1979-05-27 07\"\xC3\xA9\"\n", 1, kInValue},
    {"a = \"x\" \"\xC3\xA9\"\n", 1, kInValue},
    {"a = \"\"\"\\\xC3\xA9\"\"\"\n", 1, kEscaped},
    {"a = \"\\\xC3\xA9\"\n", 1, kEscaped},
    {"a = \"\"\"\\\n\n  \xC2\xA7\"\"\"\n", 3, kLineEnd},
    {"a = \"\"\"\\ \xC2\xA7\"\"\"\n", 1, kLineEnd},
    {"a = \"x\"\xC3\xA9\n", 1, kOutside},
    {"a = 1\xC3\xA9\n", 1, kOutside},
    {"\xC3\xA9 = 1\n", 1, kOutside},
    {"a = 1 # \xC3\xA9\n[b\xC3\xA9]\n", 2, kOutside},
    {"a = \"\"\"\n\xC3\xA9\n\"\"\"\nb\xC3\xA9 = 1\n", 4, kOutside},
    {"\xEF\xBB\xBF\xEF\xBB\xBF" "a = 1\n", 1, kOutside},
    // Safe: the characters are inside texts and comments as toml++ reads them.
    {"a = \"\xC3\xA9\"\n", 0, ""},
    {"a = '\xEF\xBB\x9E'  # \xEF\xBB\x9E\n", 0, ""},
    {"a.\"\xC3\xA9\" = 1\n[\"\xC3\xA9\".b]\n", 0, ""},
    {"a = [\"\xC3\xA9\", '\xC3\xA9', { b = \"\xC3\xA9\" }]\n", 0, ""},
    {"a = [\n  1, # \xC3\xA9\n  2,\n]\nb = \"\xC3\xA9\"\n", 0, ""},
    {"a = \"\"\"x \"\" \xC3\xA9\"\"\"\"\n", 0, ""},
    {"a = '''\n\xC3\xA9 ' '' \xC3\xA9'''\n", 0, ""},
    {"a = \"\"\"\\\n  x\xC3\xA9\"\"\"\n", 0, ""},
    {"a = \"\\u00e9 \\\" \xC3\xA9\"\n", 0, ""},
    {"\xEF\xBB\xBF" "a = \"\xC3\xA9\"\n", 0, ""},
    {"a = 1979-05-27 07:32:00 # \xC3\xA9\n", 0, ""},
    {"", 0, ""},
    // Vertical tabs and form feeds, where a value or a key would start, are passed over.
    {"a = \v1\f\"\xC3\xA9\"\n\v\fb = 1\n", 1, kInValue},
    {"a\v= \"\xC3\xA9\"\n", 0, ""},
};

TEST(TomlGuardTest, RefusesWhatToml33WouldTestForWhitespace) {
  for (const GuardRow& row : kRows) {
    SCOPED_TRACE(row.text);
    const TomlHazard hazard = FindTomlHazard(row.text);
    EXPECT_EQ(hazard.line, row.line);
    EXPECT_EQ(std::string(hazard.what).rfind(row.start, 0), 0u) << hazard.what;
  }
}

}  // namespace
