// Names are one line of UTF-8 text or are refused with the byte that is not; every byte that
// could move a terminal's cursor is shown, not sent.
#include "utf8_text.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8Text, FaultsAndTheirShownForm) {
  const struct {
    const char* name;
    std::string text;
    std::string fault;
    std::string shown;
  } cases[] = {
      {"plain", "Jérôme @ bench-3", "", "Jérôme @ bench-3"},
      {"Latin-1", "J\xE9r\xF4me", "is not UTF-8 (byte 0xE9 at 2)", "J\\xE9r\\xF4me"},
      {"an escape", "ann\x1B[31m", "holds a control character (byte 0x1B at 4)", "ann\\x1B[31m"},
      {"a line end", "a\nb", "holds a control character (byte 0x0A at 2)", "a\\x0Ab"},
      {"DEL", "a\x7F", "holds a control character (byte 0x7F at 2)", "a\\x7F"},
      {"a C1 control",
       "a\xC2\x9B"
       "2J",
       "holds a control character (U+009B at 2)", "a\\xC2\\x9B2J"},
      {"U+00A0 is text",
       "a\xC2\xA0"
       "b",
       "",
       "a\xC2\xA0"
       "b"},
      {"an overlong slash", "\xC0\xAF", "is not UTF-8 (byte 0xC0 at 1)", "\\xC0\\xAF"},
      {"a surrogate", "\xED\xA0\x80", "is not UTF-8 (byte 0xED at 1)", "\\xED\\xA0\\x80"},
      {"cut short", "ab\xE2\x82", "is not UTF-8 (byte 0xE2 at 3)", "ab\\xE2\\x82"},
      {"a backslash", "a\\b", "", "a\\\\b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PlainTextFault(c.text), c.fault);
    EXPECT_EQ(PrintableText(c.text), c.shown);
  }
}

}  // namespace
