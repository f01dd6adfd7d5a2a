#include "script/scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compile_state.h"
#include "grammar.tab.h"

namespace {

struct Token {
  int code;
  int32_t value;
  std::string text;  // literal buffer for names and literals
  int line;
  bool operator==(const Token& o) const {
    return code == o.code && value == o.value && text == o.text && line == o.line;
  }
};

std::ostream& operator<<(std::ostream& os, const Token& t) {
  return os << "{" << t.code << ", " << t.value << ", \"" << t.text << "\", line " << t.line << "}";
}

FILE* ScriptFile(const std::string& bytes) {
  FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  return f;
}

int Next(CompileState& s) {
  int32_t value = 0;
  return ScanToken(s, &value);
}

// Every token up to and including the terminating 0.
std::vector<Token> Scan(CompileState& s, const std::string& bytes) {
  s = CompileState();
  s.Pass = 1;
  FILE* f = ScriptFile(bytes);
  ScannerReset(s, f);
  std::vector<Token> out;
  for (int i = 0; i < 1000; ++i) {
    int line = ScannerLine(s);
    int32_t value = 0;
    int code = ScanToken(s, &value);
    bool hasText = code == T_LITERAL || code == T_USR_VAR;
    out.push_back({code, value, hasText ? ScannerLiteral(s) : "", line});
    if (code == 0) break;
  }
  std::fclose(f);
  return out;
}

struct ScanCase {
  const char* input;
  std::vector<Token> tokens;
};

const int NL = '\n';

TEST(ScannerTest, TokenStreams) {
  CompileState s;
  const ScanCase cases[] = {
      {".adpcm x = \"f.wav\"\n",
       {{T_ADPCM, 0, "", 1}, {T_USR_VAR, 0, "x", 1}, {'=', 0, "", 1}, {T_LITERAL, 0, "\"f.wav\"", 1},
        {NL, 0, "", 1}, {NL, 0, "", 2}, {0, 0, "", 2}}},
      {"12abc", {{T_NUM, 12, "", 1}, {T_USR_VAR, 0, "abc", 1}, {NL, 0, "", 1}, {0, 0, "", 1}}},
      {"1b 1bh 12d 0dh 101b 0FFh FFh",
       {{T_NUM, 1, "", 1}, {T_NUM, 27, "", 1}, {T_NUM, 12, "", 1}, {T_NUM, 13, "", 1},
        {T_NUM, 5, "", 1}, {T_NUM, 255, "", 1}, {T_USR_VAR, 0, "FFh", 1}, {NL, 0, "", 1},
        {0, 0, "", 1}}},
      {"123456789ABh 4294967297", {{T_NUM, 0x456789AB, "", 1}, {T_NUM, 1, "", 1}, {NL, 0, "", 1}, {0, 0, "", 1}}},
      {"$FOO $offsetx $12 %3 %",
       {{'$', 0, "", 1}, {T_USR_VAR, 0, "FOO", 1}, {T_OFFSET, 0, "", 1}, {T_USR_VAR, 0, "x", 1},
        {T_PARM_LITERAL, 1, "", 1}, {T_NUM, 2, "", 1}, {T_PARM_NUM, 3, "", 1}, {T_UNKNOW, 0, "", 1},
        {NL, 0, "", 1}, {0, 0, "", 1}}},
      {"\"abc\n", {{T_UNKNOW, 0, "", 1}, {T_USR_VAR, 0, "abc", 1}, {NL, 0, "", 1}, {NL, 0, "", 2}, {0, 0, "", 2}}},
      {"\"\"", {{T_LITERAL, 0, "\"\"", 1}, {NL, 0, "", 1}, {0, 0, "", 1}}},
      {"a\r\nb\n\rc\nd\re\r\rf",
       {{T_USR_VAR, 0, "a", 1}, {NL, 0, "", 1}, {T_USR_VAR, 0, "b", 2}, {NL, 0, "", 2},
        {T_USR_VAR, 0, "c", 3}, {NL, 0, "", 3}, {T_USR_VAR, 0, "d", 4}, {NL, 0, "", 4},
        {T_USR_VAR, 0, "e", 5}, {NL, 0, "", 5}, {NL, 0, "", 6}, {T_USR_VAR, 0, "f", 7},
        {NL, 0, "", 7}, {0, 0, "", 7}}},
      {"", {{NL, 0, "", 1}, {0, 0, "", 1}}},
      {"; some text\n// more\n",
       {{T_REMARK, 0, "", 1}, {NL, 0, "", 1}, {T_REMARK, 0, "", 2}, {NL, 0, "", 2}, {NL, 0, "", 3}, {0, 0, "", 3}}},
      {". # & ( ) * + , - : = [ ] ^ | / @ \x01",
       {{T_UNKNOW, 0, "", 1}, {'#', 0, "", 1}, {'&', 0, "", 1}, {'(', 0, "", 1}, {')', 0, "", 1},
        {'*', 0, "", 1}, {'+', 0, "", 1}, {',', 0, "", 1}, {'-', 0, "", 1}, {':', 0, "", 1},
        {'=', 0, "", 1}, {'[', 0, "", 1}, {']', 0, "", 1}, {'^', 0, "", 1}, {'|', 0, "", 1},
        {'/', 0, "", 1}, {T_UNKNOW, 0, "", 1}, {T_UNKNOW, 0, "", 1}, {NL, 0, "", 1}, {0, 0, "", 1}}},
      {".PcM16 .pcm8 .Ulaw .eq01 .SILENCE .mute .global .CFGMEM .section .define",
       {{T_PCM16, 0, "", 1}, {T_PCM8, 0, "", 1}, {T_ULAW, 0, "", 1}, {T_EQ01, 0, "", 1},
        {T_SILENCE, 0, "", 1}, {T_MUTE, 0, "", 1}, {T_GLOBAL, 0, "", 1}, {T_CFGMEM, 0, "", 1},
        {T_SECTION, 0, "", 1}, {T_DEFEINE, 0, "", 1}, {NL, 0, "", 1}, {0, 0, "", 1}}},
      {"$fill $FILESIZE $ramp_rate $Ramp_Cfg $groups $vol_map $VOL_CFG",
       {{T_FILL, 0, "", 1}, {T_FILESIZE, 0, "", 1}, {T_RAMP_RATE, 0, "", 1}, {T_RAMP_CFG, 0, "", 1},
        {T_GROUPS, 0, "", 1}, {T_VOL_MAP, 0, "", 1}, {T_VOL_CFG, 0, "", 1}, {NL, 0, "", 1}, {0, 0, "", 1}}},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(Scan(s, c.input), c.tokens);
  }
}

TEST(ScannerTest, NulByteIsAnUnknownCharacter) {
  CompileState s;
  std::vector<Token> want = {{T_USR_VAR, 0, "a", 1}, {T_UNKNOW, 0, "", 1}, {T_USR_VAR, 0, "b", 1},
                             {NL, 0, "", 1}, {0, 0, "", 1}};
  EXPECT_EQ(Scan(s, std::string("a\0b", 3)), want);
}

TEST(ScannerTest, ResetReadsTheFileAfresh) {
  CompileState s;
  FILE* f = ScriptFile("x\n");
  ScannerReset(s, f);
  while (Next(s) != 0) {
  }
  std::fseek(f, 0, SEEK_END);
  std::fputs("yz\n", f);
  ScannerReset(s, f);
  EXPECT_EQ(Next(s), T_USR_VAR);
  EXPECT_STREQ(ScannerLiteral(s), "x");
  EXPECT_EQ(Next(s), '\n');
  EXPECT_EQ(Next(s), T_USR_VAR);
  EXPECT_STREQ(ScannerLiteral(s), "yz");
  EXPECT_EQ(ScannerLine(s), 2);
  std::fclose(f);
}

TEST(ScannerTest, LongestLineThatFits) {
  CompileState s;
  std::string line = "; " + std::string(kMaxLineText - 2, 'x');
  std::vector<Token> tokens = Scan(s, line + "\n");
  EXPECT_EQ(tokens.front().code, T_REMARK);
}

// A limit stops the scan: the error token once, then only the end of input, and the message
// for the driver to end the compile with.
TEST(ScannerTest, LimitsStopTheScan) {
  CompileState s;
  struct Limit {
    std::string input;
    const char* message;  // null: within the limits
  };
  std::string crLines;  // lone carriage returns do not end a line for this limit
  for (int i = 0; i < 2000; ++i) crLines += "abcd\r";
  const Limit cases[] = {
      {"; " + std::string(kMaxLineText - 2, 'x') + "\n", nullptr},
      {"; " + std::string(kMaxLineText - 1, 'x') + "\n", "token too large, exceeds YYLMAX"},
      {std::string(2000, ' ') + std::string(8000, 'a'), "token too large, exceeds YYLMAX"},
      {"; " + std::string(kInputBufferSize, 'x'), "input buffer overflow, can't enlarge buffer because scanner uses REJECT"},
      {crLines, "token too large, exceeds YYLMAX"},
  };
  for (const Limit& c : cases) {
    const std::vector<Token> tokens = Scan(s, c.input);
    const char* failure = ScannerFailure(s);
    if (c.message == nullptr) {
      EXPECT_EQ(failure, nullptr);
      continue;
    }
    ASSERT_NE(failure, nullptr);
    EXPECT_STREQ(failure, c.message);
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].code, YYerror);
    EXPECT_EQ(tokens[1].code, 0);
  }
}

TEST(ScannerTest, OverlongNameIsCutAndReported) {
  CompileState s;
  testing::internal::CaptureStdout();
  std::vector<Token> tokens = Scan(s, std::string(1100, 'n'));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(tokens[0].text, std::string(1023, 'n'));
  EXPECT_EQ(out, "*Error Line1: Literal or name longer than 1023 characters.\n");
}

// A pass that stops at the name "stop" leaves the lines below it unread; they are counted as
// the line counter counts them.
TEST(ScannerTest, LinesBelowWhereReadingStops) {
  CompileState s;
  struct StopCase {
    const char* input;
    int line, below;
  };
  const StopCase cases[] = {
      {"stop", 1, 0},
      {"stop\n", 1, 0},
      {"stop\n\n", 1, 1},
      {"a\r\nstop\r\nb\r\nc", 2, 2},
      {"stop\n\rb\r\rc", 1, 3},    // LF CR is one line end, CR CR two
      {"stop ; x\ry\nz\n", 1, 1},  // a remark runs to the line feed
      {"stop \"a\rb\"\nz", 1, 1},  // so does a literal
      {"stop \"a\rb\nz", 1, 2},    // but a quote that is not closed is a character of its own
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.input);
    s = CompileState();
    FILE* f = ScriptFile(c.input);
    ScannerReset(s, f);
    int code;
    while ((code = Next(s)) != 0 && !(code == T_USR_VAR && std::string(ScannerLiteral(s)) == "stop")) {
    }
    EXPECT_FALSE(ScannerReachedEnd(s));
    EXPECT_EQ(ScannerLastTokenLine(s), c.line);
    EXPECT_EQ(ScannerLinesBelowLastToken(s), c.below);
    while (Next(s) != 0) {
    }
    EXPECT_TRUE(ScannerReachedEnd(s));
    std::fclose(f);
  }
}

TEST(ScannerTest, EncodingIsWarnedAboutInPassOneOnly) {
  CompileState s;
  const std::string hint = "; save it as plain ASCII or as UTF-8 without BOM\n";
  struct EncodingCase {
    std::string input;
    std::string warning;
  };
  const EncodingCase cases[] = {
      {"\xEF\xBB\xBF.GLOBAL\n", "starts with a UTF-8 byte-order mark (EF BB BF)"},
      {std::string("\xFF\xFE.\0", 4), "is UTF-16 text (byte-order mark FF FE)"},
      {std::string("\xFE\xFF\0.", 4), "is UTF-16 text (byte-order mark FE FF)"},
      {std::string(".\0G\0\r\0\n\0", 8), "looks like UTF-16 text (NUL bytes in its first line)"},
      {std::string("ab\n\0", 4), ""},
  };
  for (const EncodingCase& c : cases) {
    testing::internal::CaptureStderr();
    Scan(s, c.input);
    std::string want = c.warning.empty() ? "" : "qs71gen:1: warning: the script " + c.warning + hint;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), want);
  }
  s = CompileState();
  s.Pass = 2;
  FILE* f = ScriptFile("\xEF\xBB\xBF\n");
  ScannerReset(s, f);
  testing::internal::CaptureStderr();
  while (Next(s) != 0) {
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  std::fclose(f);
}

// Where a text-mode read on Windows would end a script: only a Ctrl-Z with text after it.
TEST(Scanner, LineCutByCtrlZ) {
  const struct {
    std::string bytes;
    int line;
  } cases[] = {
      {"a\nb\n", 0},          {"a\nb\n\x1A", 0},       {"a\r\nb\r\n\x1A\x1A \r\n", 0},
      {"a\r\n; x\x1A\r\nb", 2}, {"a\rb\x1A c", 2},        {"\x1A.SOUND", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(LineCutByCtrlZ(c.bytes), c.line) << c.bytes;
}

}  // namespace
