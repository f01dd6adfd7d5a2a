#include "script/scanner.h"

#include <cstring>
#include <string>
#include <string_view>

#include "ascii_case.h"
#include "compile_state.h"
#include "grammar.tab.h"
#include "script/diagnostics.h"
#include "hex.h"
#include "warnings.h"
#include "wrap_math.h"

namespace {

struct ScannerState {
  std::string text;  // the whole script as read at the last reset
  size_t pos = 0;
  size_t lineEnd = 0;  // position of the line feed (or end) of the line that pos is on
  bool finalNewline = false;
  bool startSeen = false;  // the first token of this pass has been asked for
  bool reachedEnd = false;
  int lastTextLine = 1;
  int lastToken = 0;
  int lastTokenLine = 1;
  size_t lastTokenPos = 0;
  char literal[kLiteralBufferSize] = {};
  const char* failure = nullptr;  // the limit that stopped the scanner, if one did
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

struct ByteOrderMark {
  std::string_view bytes;
  const char* what;
};

// Editors on Windows like to save with these; the scanner sees only unknown characters in them.
const ByteOrderMark kByteOrderMarks[] = {
    {"\xEF\xBB\xBF", "starts with a UTF-8 byte-order mark (EF BB BF)"},
    {"\xFF\xFE", "is UTF-16 text (byte-order mark FF FE)"},
    {"\xFE\xFF", "is UTF-16 text (byte-order mark FE FF)"},
};

// A limit that ends the compile: the parser is sent into error recovery without a message of
// its own, and from then on it sees only the end of input, so that it gives up at once.
int Stop(const char* message) {
  g_scan.failure = message;
  return YYerror;
}

char At(size_t i) { return i < g_scan.text.size() ? g_scan.text[i] : '\0'; }
bool Has(size_t i) { return i < g_scan.text.size(); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }

// Every token start checks the rest of its line: the first token of an over-long line trips.
// The limit's message, or null.
const char* LineLimitExceeded() {
  if (g_scan.pos >= g_scan.lineEnd || g_scan.lineEnd == 0) {
    size_t lf = g_scan.text.find('\n', g_scan.pos);
    g_scan.lineEnd = lf == std::string::npos ? g_scan.text.size() : lf;
  }
  size_t rest = g_scan.lineEnd - g_scan.pos;
  if (rest >= static_cast<size_t>(kInputBufferSize)) {
    return "input buffer overflow, can't enlarge buffer because scanner uses REJECT";
  }
  if (rest > static_cast<size_t>(kMaxLineText)) return "token too large, exceeds YYLMAX";
  return nullptr;
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

// CR LF and LF CR are one line end, so that scripts from any system count their lines alike.
size_t LineEndLength(size_t p) {
  char c = At(p);
  char next = At(p + 1);
  bool pair = Has(p + 1) && ((c == '\r' && next == '\n') || (c == '\n' && next == '\r'));
  return pair ? 2 : 1;
}

int LineEnd() {
  yylloc.first_line++;
  return Emit('\n', LineEndLength(g_scan.pos), 0);
}

bool IsRemarkStart(size_t p) {
  return At(p) == ';' || (At(p) == '/' && At(p + 1) == '/' && Has(p + 1));
}

// A remark runs to the line feed: a carriage return inside it ends no line.
size_t RemarkEnd(size_t p) {
  size_t lf = g_scan.text.find('\n', p);
  return lf == std::string::npos ? g_scan.text.size() : lf;
}

int Remark() { return Emit(T_REMARK, RemarkEnd(g_scan.pos) - g_scan.pos, 0); }

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

// Position after the closing quote of a literal starting at p, or 0 when the line has none.
size_t LiteralEnd(size_t p) {
  size_t q = p + 1;
  while (Has(q) && At(q) != '"' && At(q) != '\n') ++q;
  return Has(q) && At(q) == '"' ? q + 1 : 0;
}

int Literal() {
  size_t end = LiteralEnd(g_scan.pos);
  if (end != 0) return EmitText(T_LITERAL, end - g_scan.pos);
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
  if (IsRemarkStart(g_scan.pos)) return Remark();
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

// Only remarks and literals can hide a line end from the line counter; everything else is
// stepped over a character at a time.
size_t SkipToPossibleLineEnd(size_t p) {
  if (IsRemarkStart(p)) return RemarkEnd(p);
  if (At(p) == '"' && LiteralEnd(p) != 0) return LiteralEnd(p);
  return p + 1;
}

void WarnAboutEncoding() {
  std::string_view text = g_scan.text;
  for (const ByteOrderMark& mark : kByteOrderMarks) {
    if (text.substr(0, mark.bytes.size()) == mark.bytes) {
      Warn(1, "the script %s; save it as plain ASCII or as UTF-8 without BOM", mark.what);
      return;
    }
  }
  if (text.substr(0, text.find_first_of("\r\n")).find('\0') != std::string_view::npos) {
    Warn(1, "the script looks like UTF-16 text (NUL bytes in its first line); save it as plain "
            "ASCII or as UTF-8 without BOM");
  }
}

// The encoding is looked at once per run, before the first token of pass 1.
void StartOfPass() {
  g_scan.startSeen = true;
  if (g_state.Pass == 1) WarnAboutEncoding();
}

int EndOfInput() {
  yylval = 0;
  g_scan.lastTokenPos = g_scan.text.size();
  if (!g_scan.finalNewline) {
    g_scan.reachedEnd = true;
    g_scan.lastToken = 0;
    return 0;
  }
  g_scan.finalNewline = false;
  g_scan.lastToken = '\n';
  return '\n';
}

void Remember(int token, int line, size_t start) {
  if (token > 0 && token != '\n') g_scan.lastTextLine = line;
  g_scan.lastToken = token;
  g_scan.lastTokenLine = line;
  g_scan.lastTokenPos = start;
}

}  // namespace

bool ScannerReset(FILE* script) {
  g_scan.text.clear();
  g_scan.pos = 0;
  g_scan.lineEnd = 0;
  g_scan.finalNewline = true;
  g_scan.startSeen = false;
  g_scan.reachedEnd = false;
  g_scan.lastTextLine = 1;
  g_scan.lastToken = 0;
  g_scan.lastTokenLine = 1;
  g_scan.lastTokenPos = 0;
  g_scan.literal[0] = '\0';
  g_scan.failure = nullptr;
  yylloc.first_line = yylloc.first_column = yylloc.last_line = yylloc.last_column = 1;
  if (script == nullptr) return true;
  std::rewind(script);
  char chunk[kInputBufferSize];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, script)) > 0) g_scan.text.append(chunk, n);
  if (std::ferror(script)) g_scan.failure = "input in flex scanner failed";
  return g_scan.failure == nullptr;
}

int yylex() {
  if (g_scan.failure != nullptr) return 0;
  if (!g_scan.startSeen) StartOfPass();
  for (;;) {
    if (g_scan.pos >= g_scan.text.size()) return EndOfInput();
    if (const char* limit = LineLimitExceeded()) return Stop(limit);
    int line = ScannerLine();
    size_t start = g_scan.pos;
    int token = OneToken();
    if (token < 0) continue;
    Remember(token, line, start);
    return token;
  }
}

const char* ScannerLiteral() { return g_scan.literal; }

const char* ScannerFailure() { return g_scan.failure; }

int ScannerLine() { return yylloc.first_line; }

int ScannerLastTextLine() { return g_scan.lastTextLine; }

bool ScannerReachedEnd() { return g_scan.reachedEnd; }

int ScannerLastToken() { return g_scan.lastToken; }

int ScannerLastTokenLine() { return g_scan.lastTokenLine; }

int ScannerLinesBelowLastToken() {
  int lineEnds = 0;
  bool textAfterLastEnd = false;
  size_t p = g_scan.lastTokenPos;
  while (p < g_scan.text.size()) {
    bool lineEnd = At(p) == '\n' || At(p) == '\r';
    p = lineEnd ? p + LineEndLength(p) : SkipToPossibleLineEnd(p);
    if (lineEnd) ++lineEnds;
    textAfterLastEnd = !lineEnd;
  }
  // The first line end closes the last token's own line; text after the last one is a line
  // that the final newline would have closed.
  if (lineEnds == 0) return 0;
  return lineEnds - 1 + (textAfterLastEnd ? 1 : 0);
}
