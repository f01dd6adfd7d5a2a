// Bytes above 127 reach toml++ only inside strings and comments, where it reads them safely:
// every other place is refused at its line, since toml++ 3.3.0 reaches undefined behaviour on
// some of them.
#include "toml_text.h"

#include <gtest/gtest.h>

namespace {

TEST(TomlText, FirstNonAsciiLineOutsideStrings) {
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
    EXPECT_EQ(FirstNonAsciiLineForToml(c.text), c.line);
  }
}

}  // namespace
