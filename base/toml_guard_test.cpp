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

// Found by fuzz_policy beyond the rows above: toml++ reads each quote here as part of a bare
// word, or tests the byte after a backslash or a blank. Only the line counts here.
TEST(TomlGuardTest, RefusesWhatTheFuzzerFoundPastAQuoteOrABackslash) {
  const struct {
    const char* name;
    std::string text;
    unsigned line;
  } cases[] = {
      {"a value's string", "a = \"d\xC3\xA9j\xC3\xA0\"\n", 0},
      {"a literal string", "a = 'd\xC3\xA9j\xC3\xA0'\n", 0},
      {"a key in quotes", "\"cl\xC3\xA9\" = 1\n", 0},
      {"an array's strings", "a = [\"x\",\n  \"\xC3\xA9\"]\n", 0},
      {"an inline table", "a = { \"\xC3\xA9\" = 'x', b = \"\xC3\xA9\" }\n", 0},
      {"a dotted key", "a.\"\xC3\xA9\" = 1\n", 0},
      {"a comment", "a = 1  # d\xC3\xA9j\xC3\xA0\n", 0},
      {"a bare value", "a = 1\nb = d\xC3\xA9j\xC3\xA0\n", 2},
      {"a bare key", "\xC3\xA9 = 1\n", 1},
      {"after a line-ending backslash", "a = \"\"\"x \\\n  \xC2\xA0y\"\"\"\n", 2},
      // Found by fuzz_policy: toml++ reads each of these quotes as part of a bare word.
      {"a quote after a minus",
       "jobs = -\"ancelib/qs71\xD1\x8B"
       "rac0.db\"\n",
       1},
      {"a quote inside a bare word", "a =1//trb\"_s_\xC7\x98\x01?_s =0//b\"\n", 1},
      {"a quote after a dot in a bare word",
       "j =-ou\x7Fo\"aob.\"/qs71\xD1\x8B"
       "race.db\"\n",
       1},
      {"a bracket inside a bare word", "t = [[2;[[\"/q\xD1\x8B\"]]]]\n", 1},
      {"numbers, dates and strings in an array", "a = [1, 1979-05-27, \"\xC3\xA9\",2,'\xC3\xA9']\n",
       0},
      {"an escape of a byte above 127", "a = \"\"\"\\\"|\"\\\\\\\xCC\x9B\"\"\"\n", 1},
      {"an escape of a byte above 127 on one line", "a = \"x\\\xC3\xA9\"\n", 1},
      {"a value where a key would stand", "0=0b1=\"\xEF\xB3\xBF'\"\n", 1},
      {"strings in nested arrays and tables",
       "a = [[\"\xC3\xA9\"], {\"\xC3\xA9\" = '\xC3\xA9'}]\n[t.\"\xC3\xA9\"]\n", 0},
      {"blanks after a backslash, then a byte above 127",
       "b = \"\"\"\\\n)r$\\\t\t\xEF\xBB\xB7\"\"\"\n", 2},
      {"a NUL byte in a bare word", std::string("J=-\x01\0\0=\"\"\"b\xEF\xB9\xBF\"\"\"\n", 15), 1},
      {"a quote after a string", "a = \"x\"\"\xC3\xA9\"\n", 1},
      {"a table's quoted part", "[sound.\"J\xC3\xA9r\xC3\xB4me\"]\ngain = 1\n", 0},
      {"quoted parts with blanks", "a . \"\xC3\xA9\" . 'x' = 1\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FindTomlHazard(c.text).line, c.line);
  }
}

}  // namespace
