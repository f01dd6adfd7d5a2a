#include "script/scanner.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "compile_state.h"
#include "grammar.tab.h"
#include "script/diagnostics.h"
#include "text_util.h"
#include "wrap_math.h"

namespace {

struct ScannerState {
  std::string text;  // the whole script as read at the last reset
  size_t pos = 0;
  size_t lineEnd = 0;  // position of the line feed (or end) of the line that pos is on
  bool finalNewline = false;
  int lastTextLine = 1;
  char literal[kLiteralBufferSize] = {};
};

ScannerState g_scan;

struct Keyword {
  const char* text;
  int token;
};

// Tried longest first where two could match, so the table order does not matter.
const Keyword kDotKeywords[] = {
    {".DEFINE", T_DEFEINE}, {".ADPCM", T_ADPCM},   {".PCM8", T_PCM8},
    {".ULAW", T_ULAW},      {".PCM16", T_PCM16},   {".EQ01", T_EQ01},
    {".SILENCE", T_SILENCE}, {".MUTE", T_MUTE},    {".GLOBAL", T_GLOBAL},
    {".CFGMEM", T_CFGMEM},  {".SECTION", T_SECTION},
};

const Keyword kDollarKeywords[] = {
    {"$OFFSET", T_OFFSET},       {"$MAXSIZE", T_MAXSIZE},     {"$OPTION", T_OPTION},
    {"$EDGE", T_EDGE},           {"$HOLD", T_HOLD},           {"$RETRG", T_RETRG},
    {"$STOPEN", T_STOPEN},       {"$GRPADR", T_GRPADR},       {"$FILESIZE", T_FILESIZE},
    {"$WAKEUPDLY", T_WAKEUPDLY}, {"$SRCSPD", T_SRCSPD},       {"$FUNCCODE", T_FUNCCODE},
    {"$MISCOPT", T_MISCOPT},     {"$IO_CFG", T_IO_CFG},       {"$DBCKSI", T_DBCKSI},
    {"$DBCKUI", T_DBCKUI},       {"$SECNUM", T_SECNUM},       {"$MAINCLK", T_MAINCLK},
    {"$VOL_CFG", T_VOL_CFG},     {"$VOL_MAP", T_VOL_MAP},     {"$RAMP_CFG", T_RAMP_CFG},
    {"$RAMP_RATE", T_RAMP_RATE}, {"$OUTPUT", T_OUTPUT},       {"$SCALING", T_SCALING},
    {"$FILL", T_FILL},           {"$GROUPS", T_GROUPS},
};

// Characters that are tokens of their own.
constexpr std::string_view kSingleChars = "#&()*+,-:=[]^|$/";

[[noreturn]] void Fatal(const char* message) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", message);
  std::exit(2);
}

char At(size_t i) { return i < g_scan.text.size() ? g_scan.text[i] : '\0'; }
bool Has(size_t i) { return i < g_scan.text.size(); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }

// Every token start checks the rest of its line: the first token of an over-long line trips.
void CheckLineLength() {
  if (g_scan.pos >= g_scan.lineEnd || g_scan.lineEnd == 0) {
    size_t lf = g_scan.text.find('\n', g_scan.pos);
    g_scan.lineEnd = lf == std::string::npos ? g_scan.text.size() : lf;
  }
  size_t rest = g_scan.lineEnd - g_scan.pos;
  if (rest >= static_cast<size_t>(kInputBufferSize)) {
    Fatal("input buffer overflow, can't enlarge buffer because scanner uses REJECT");
  }
  if (rest > static_cast<size_t>(kMaxLineText)) Fatal("token too large, exceeds YYLMAX");
}

int Emit(int token, size_t length, int32_t value) {
  g_scan.pos += length;
  yylval = value;
  return token;
}

// Copies a name or literal into the shared literal buffer; longer ones are cut and refused.
int EmitText(int token, size_t length) {
  size_t n = length;
  if (n > static_cast<size_t>(kLiteralBufferSize - 1)) {
    ReportError(ErrLiteralTooLong, ScannerLine(), nullptr);
    n = kLiteralBufferSize - 1;
  }
  std::memcpy(g_scan.literal, g_scan.text.data() + g_scan.pos, n);
  g_scan.literal[n] = '\0';
  return Emit(token, length, 0);
}

int LineEnd() {
  char c = At(g_scan.pos);
  char next = At(g_scan.pos + 1);
  bool pair = Has(g_scan.pos + 1) && ((c == '\r' && next == '\n') || (c == '\n' && next == '\r'));
  yylloc.first_line++;
  return Emit('\n', pair ? 2 : 1, 0);
}

int Remark() {
  size_t lf = g_scan.text.find('\n', g_scan.pos);
  size_t end = lf == std::string::npos ? g_scan.text.size() : lf;
  return Emit(T_REMARK, end - g_scan.pos, 0);
}

int MatchKeyword(const Keyword* table, size_t count) {
  size_t best = 0;
  int token = 0;
  for (size_t k = 0; k < count; ++k) {
    size_t n = std::strlen(table[k].text);
    if (n > best && EqualsNoCase(std::string_view(g_scan.text).substr(g_scan.pos, n), table[k].text)) {
      best = n;
      token = table[k].token;
    }
  }
  return best == 0 ? 0 : Emit(token, best, 0);
}

size_t RunLength(size_t from, bool (*accept)(char)) {
  size_t n = 0;
  while (Has(from + n) && accept(At(from + n))) ++n;
  return n;
}

bool IsBinaryDigit(char c) { return c == '0' || c == '1'; }
bool IsHexDigit(char c) { return HexDigitValue(c) >= 0; }

int32_t Accumulate(size_t from, size_t n, int base) {
  int32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = WrapAdd(WrapMul(v, base), HexDigitValue(At(from + i)));
  return v;
}

// Binary "101b", hexadecimal "0FFh", decimal "12" or "12d": the longest wins, and on equal
// length the binary form before the hexadecimal before the decimal.
int Number() {
  size_t p = g_scan.pos;
  size_t bin = RunLength(p, IsBinaryDigit);
  size_t lenBin = (bin > 0 && AsciiLower(At(p + bin)) == 'b' && Has(p + bin)) ? bin + 1 : 0;
  size_t hex = RunLength(p, IsHexDigit);
  size_t lenHex = (AsciiLower(At(p + hex)) == 'h' && Has(p + hex)) ? hex + 1 : 0;
  size_t dec = RunLength(p, [](char c) { return c >= '0' && c <= '9'; });
  size_t lenDec = (AsciiLower(At(p + dec)) == 'd' && Has(p + dec)) ? dec + 1 : dec;
  if (lenBin >= lenHex && lenBin >= lenDec) return Emit(T_NUM, lenBin, Accumulate(p, bin, 2));
  if (lenHex >= lenDec) return Emit(T_NUM, lenHex, Accumulate(p, hex, 16));
  return Emit(T_NUM, lenDec, Accumulate(p, dec, 10));
}

int Literal() {
  size_t p = g_scan.pos + 1;
  while (Has(p) && At(p) != '"' && At(p) != '\n') ++p;
  if (Has(p) && At(p) == '"') return EmitText(T_LITERAL, p + 1 - g_scan.pos);
  return Emit(T_UNKNOW, 1, 0);
}

int Parameter(int token) {
  char d = At(g_scan.pos + 1);
  if (Has(g_scan.pos + 1) && IsDigit(d)) return Emit(token, 2, d - '0');
  return 0;
}

int Dollar() {
  int token = MatchKeyword(kDollarKeywords, std::size(kDollarKeywords));
  if (token == 0) token = Parameter(T_PARM_LITERAL);
  return token != 0 ? token : Emit('$', 1, 0);
}

int OneToken() {
  char c = At(g_scan.pos);
  if (c == '\n' || c == '\r') return LineEnd();
  if (c == ';' || (c == '/' && At(g_scan.pos + 1) == '/' && Has(g_scan.pos + 1))) return Remark();
  if (c == ' ' || c == '\t') {
    g_scan.pos += RunLength(g_scan.pos, [](char ch) { return ch == ' ' || ch == '\t'; });
    return -1;
  }
  if (c == '.') {
    int token = MatchKeyword(kDotKeywords, std::size(kDotKeywords));
    return token != 0 ? token : Emit(T_UNKNOW, 1, 0);
  }
  if (c == '$') return Dollar();
  if (c == '%') {
    int token = Parameter(T_PARM_NUM);
    return token != 0 ? token : Emit(T_UNKNOW, 1, 0);
  }
  if (IsDigit(c)) return Number();
  if (c == '"') return Literal();
  if (IsLetter(c) || c == '_') return EmitText(T_USR_VAR, RunLength(g_scan.pos, IsNameChar));
  if (kSingleChars.find(c) != std::string_view::npos) {
    return Emit(static_cast<unsigned char>(c), 1, 0);
  }
  return Emit(T_UNKNOW, 1, 0);
}

}  // namespace

void ScannerReset(FILE* script) {
  g_scan.text.clear();
  g_scan.pos = 0;
  g_scan.lineEnd = 0;
  g_scan.finalNewline = true;
  g_scan.lastTextLine = 1;
  g_scan.literal[0] = '\0';
  yylloc.first_line = yylloc.first_column = yylloc.last_line = yylloc.last_column = 1;
  if (script == nullptr) return;
  std::rewind(script);
  char chunk[kInputBufferSize];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, script)) > 0) g_scan.text.append(chunk, n);
  if (std::ferror(script)) Fatal("input in flex scanner failed");
}

int yylex() {
  for (;;) {
    if (g_scan.pos >= g_scan.text.size()) {
      yylval = 0;
      if (!g_scan.finalNewline) return 0;
      g_scan.finalNewline = false;
      return '\n';
    }
    CheckLineLength();
    int line = ScannerLine();
    int token = OneToken();
    if (token > 0 && token != '\n') g_scan.lastTextLine = line;
    if (token >= 0) return token;
  }
}

const char* ScannerLiteral() { return g_scan.literal; }

int ScannerLine() { return yylloc.first_line; }

int ScannerLastTextLine() { return g_scan.lastTextLine; }
