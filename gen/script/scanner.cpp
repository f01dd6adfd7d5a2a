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

// One call of the scanner: the compile, its scanner and where the token's value goes.
struct Scan {
  CompileState& s;
  ScannerState& sc;
  int32_t* value;
};

// A limit that ends the compile: the parser is sent into error recovery without a message of
// its own, and from then on it sees only the end of input, so that it gives up at once.
int Stop(Scan& c, const char* message) {
  c.sc.failure = message;
  return YYerror;
}

char At(Scan& c, size_t i) { return i < c.sc.text.size() ? c.sc.text[i] : '\0'; }
bool Has(Scan& c, size_t i) { return i < c.sc.text.size(); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }

// Every token start checks the rest of its line: the first token of an over-long line trips.
// The limit's message, or null.
const char* LineLimitExceeded(Scan& c) {
  if (c.sc.pos >= c.sc.lineEnd || c.sc.lineEnd == 0) {
    size_t lf = c.sc.text.find('\n', c.sc.pos);
    c.sc.lineEnd = lf == std::string::npos ? c.sc.text.size() : lf;
  }
  size_t rest = c.sc.lineEnd - c.sc.pos;
  if (rest >= static_cast<size_t>(kInputBufferSize)) {
    return "input buffer overflow, can't enlarge buffer because scanner uses REJECT";
  }
  if (rest > static_cast<size_t>(kMaxLineText)) return "token too large, exceeds YYLMAX";
  return nullptr;
}

int Emit(Scan& c, int token, size_t length, int32_t value) {
  c.sc.pos += length;
  *c.value = value;
  return token;
}

// Copies a name or literal into the shared literal buffer; longer ones are cut and refused.
int EmitText(Scan& c, int token, size_t length) {
  size_t n = length;
  if (n > static_cast<size_t>(kLiteralBufferSize - 1)) {
    ReportError(c.s, ErrLiteralTooLong, c.sc.line, nullptr);
    n = kLiteralBufferSize - 1;
  }
  std::memcpy(c.sc.literal, c.sc.text.data() + c.sc.pos, n);
  c.sc.literal[n] = '\0';
  return Emit(c, token, length, 0);
}

// CR LF and LF CR are one line end, so that scripts from any system count their lines alike.
size_t LineEndLength(Scan& c, size_t p) {
  char first = At(c, p);
  char next = At(c, p + 1);
  bool pair = Has(c, p + 1) && ((first == '\r' && next == '\n') || (first == '\n' && next == '\r'));
  return pair ? 2 : 1;
}

int LineEnd(Scan& c) {
  c.sc.line++;
  return Emit(c, '\n', LineEndLength(c, c.sc.pos), 0);
}

bool IsRemarkStart(Scan& c, size_t p) {
  return At(c, p) == ';' || (At(c, p) == '/' && At(c, p + 1) == '/' && Has(c, p + 1));
}

// A remark runs to the line feed: a carriage return inside it ends no line.
size_t RemarkEnd(Scan& c, size_t p) {
  size_t lf = c.sc.text.find('\n', p);
  return lf == std::string::npos ? c.sc.text.size() : lf;
}

int Remark(Scan& c) { return Emit(c, T_REMARK, RemarkEnd(c, c.sc.pos) - c.sc.pos, 0); }

int MatchKeyword(Scan& c, const Keyword* table, size_t count) {
  size_t best = 0;
  int token = 0;
  for (size_t k = 0; k < count; ++k) {
    size_t n = std::strlen(table[k].text);
    if (n > best && EqualsNoCase(std::string_view(c.sc.text).substr(c.sc.pos, n), table[k].text)) {
      best = n;
      token = table[k].token;
    }
  }
  return best == 0 ? 0 : Emit(c, token, best, 0);
}

size_t RunLength(Scan& c, size_t from, bool (*accept)(char)) {
  size_t n = 0;
  while (Has(c, from + n) && accept(At(c, from + n))) ++n;
  return n;
}

bool IsBinaryDigit(char c) { return c == '0' || c == '1'; }
bool IsHexDigit(char c) { return HexDigitValue(c) >= 0; }

int32_t Accumulate(Scan& c, size_t from, size_t n, int base) {
  int32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = WrapAdd(WrapMul(v, base), HexDigitValue(At(c, from + i)));
  return v;
}

// Binary "101b", hexadecimal "0FFh", decimal "12" or "12d": the longest wins, and on equal
// length the binary form before the hexadecimal before the decimal.
int Number(Scan& c) {
  size_t p = c.sc.pos;
  size_t bin = RunLength(c, p, IsBinaryDigit);
  size_t lenBin = (bin > 0 && AsciiLower(At(c, p + bin)) == 'b' && Has(c, p + bin)) ? bin + 1 : 0;
  size_t hex = RunLength(c, p, IsHexDigit);
  size_t lenHex = (AsciiLower(At(c, p + hex)) == 'h' && Has(c, p + hex)) ? hex + 1 : 0;
  size_t dec = RunLength(c, p, [](char c) { return c >= '0' && c <= '9'; });
  size_t lenDec = (AsciiLower(At(c, p + dec)) == 'd' && Has(c, p + dec)) ? dec + 1 : dec;
  if (lenBin >= lenHex && lenBin >= lenDec) return Emit(c, T_NUM, lenBin, Accumulate(c, p, bin, 2));
  if (lenHex >= lenDec) return Emit(c, T_NUM, lenHex, Accumulate(c, p, hex, 16));
  return Emit(c, T_NUM, lenDec, Accumulate(c, p, dec, 10));
}

// Position after the closing quote of a literal starting at p, or 0 when the line has none.
size_t LiteralEnd(Scan& c, size_t p) {
  size_t q = p + 1;
  while (Has(c, q) && At(c, q) != '"' && At(c, q) != '\n') ++q;
  return Has(c, q) && At(c, q) == '"' ? q + 1 : 0;
}

int Literal(Scan& c) {
  size_t end = LiteralEnd(c, c.sc.pos);
  if (end != 0) return EmitText(c, T_LITERAL, end - c.sc.pos);
  return Emit(c, T_UNKNOW, 1, 0);
}

int Parameter(Scan& c, int token) {
  char d = At(c, c.sc.pos + 1);
  if (Has(c, c.sc.pos + 1) && IsDigit(d)) return Emit(c, token, 2, d - '0');
  return 0;
}

int Dollar(Scan& c) {
  int token = MatchKeyword(c, kDollarKeywords, std::size(kDollarKeywords));
  if (token == 0) token = Parameter(c, T_PARM_LITERAL);
  return token != 0 ? token : Emit(c, '$', 1, 0);
}

int OneToken(Scan& c) {
  char ch = At(c, c.sc.pos);
  if (ch == '\n' || ch == '\r') return LineEnd(c);
  if (IsRemarkStart(c, c.sc.pos)) return Remark(c);
  if (ch == ' ' || ch == '\t') {
    c.sc.pos += RunLength(c, c.sc.pos, [](char blank) { return blank == ' ' || blank == '\t'; });
    return -1;
  }
  if (ch == '.') {
    int token = MatchKeyword(c, kDotKeywords, std::size(kDotKeywords));
    return token != 0 ? token : Emit(c, T_UNKNOW, 1, 0);
  }
  if (ch == '$') return Dollar(c);
  if (ch == '%') {
    int token = Parameter(c, T_PARM_NUM);
    return token != 0 ? token : Emit(c, T_UNKNOW, 1, 0);
  }
  if (IsDigit(ch)) return Number(c);
  if (ch == '"') return Literal(c);
  if (IsLetter(ch) || ch == '_') return EmitText(c, T_USR_VAR, RunLength(c, c.sc.pos, IsNameChar));
  if (kSingleChars.find(ch) != std::string_view::npos) {
    return Emit(c, static_cast<unsigned char>(ch), 1, 0);
  }
  return Emit(c, T_UNKNOW, 1, 0);
}

// Only remarks and literals can hide a line end from the line counter; everything else is
// stepped over a character at a time.
size_t SkipToPossibleLineEnd(Scan& c, size_t p) {
  if (IsRemarkStart(c, p)) return RemarkEnd(c, p);
  if (At(c, p) == '"' && LiteralEnd(c, p) != 0) return LiteralEnd(c, p);
  return p + 1;
}

void WarnAboutEncoding(Scan& c) {
  std::string_view text = c.sc.text;
  for (const ByteOrderMark& mark : kByteOrderMarks) {
    if (text.substr(0, mark.bytes.size()) == mark.bytes) {
      Warn(c.s, 1, "the script %s; save it as plain ASCII or as UTF-8 without BOM", mark.what);
      return;
    }
  }
  if (text.substr(0, text.find_first_of("\r\n")).find('\0') != std::string_view::npos) {
    Warn(c.s, 1, "the script looks like UTF-16 text (NUL bytes in its first line); save it as plain "
            "ASCII or as UTF-8 without BOM");
  }
}

// The encoding is looked at once per run, before the first token of pass 1.
void StartOfPass(Scan& c) {
  c.sc.startSeen = true;
  if (c.s.Pass == 1) WarnAboutEncoding(c);
}

int EndOfInput(Scan& c) {
  *c.value = 0;
  c.sc.lastTokenPos = c.sc.text.size();
  if (!c.sc.finalNewline) {
    c.sc.reachedEnd = true;
    c.sc.lastToken = 0;
    return 0;
  }
  c.sc.finalNewline = false;
  c.sc.lastToken = '\n';
  return '\n';
}

void Remember(Scan& c, int token, int line, size_t start) {
  if (token > 0 && token != '\n') c.sc.lastTextLine = line;
  c.sc.lastToken = token;
  c.sc.lastTokenLine = line;
  c.sc.lastTokenPos = start;
}

}  // namespace

int LineCutByCtrlZ(const std::string& bytes) {
  const size_t mark = bytes.find('\x1A');
  if (mark == std::string::npos) return 0;
  if (bytes.find_first_not_of(std::string(" \t\r\n\x1A", 5), mark) == std::string::npos) return 0;
  int line = 1;
  for (size_t i = 0; i < mark; ++i) {
    // CR LF is one line end, as a text-mode read gives it.
    if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 >= mark || bytes[i + 1] != '\n'))) ++line;
  }
  return line;
}

bool ScannerReset(CompileState& s, FILE* script) {
  Scan c{s, s.Scan, nullptr};
  // A script read from a pipe cannot be read a second time: the later passes scan the text the
  // first one read, or they would find an empty script and compile an image without sounds.
  const bool rewound = script != nullptr && std::fseek(script, 0, SEEK_SET) == 0;
  const bool reuse = script != nullptr && !rewound && c.sc.wholeText;
  if (!reuse) c.sc.text.clear();
  c.sc.pos = 0;
  c.sc.lineEnd = 0;
  c.sc.finalNewline = true;
  c.sc.startSeen = false;
  c.sc.reachedEnd = false;
  c.sc.lastTextLine = 1;
  c.sc.lastToken = 0;
  c.sc.lastTokenLine = 1;
  c.sc.lastTokenPos = 0;
  c.sc.literal[0] = '\0';
  c.sc.failure = nullptr;
  c.sc.line = 1;
  if (script == nullptr || reuse) return true;
  char chunk[kInputBufferSize];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, script)) > 0) c.sc.text.append(chunk, n);
  if (std::ferror(script)) c.sc.failure = "input in flex scanner failed";
  c.sc.wholeText = c.sc.failure == nullptr;
  return c.sc.failure == nullptr;
}

int ScanToken(CompileState& s, int32_t* value) {
  Scan c{s, s.Scan, value};
  if (c.sc.failure != nullptr) return 0;
  if (!c.sc.startSeen) StartOfPass(c);
  for (;;) {
    if (c.sc.pos >= c.sc.text.size()) return EndOfInput(c);
    if (const char* limit = LineLimitExceeded(c)) return Stop(c, limit);
    int line = c.sc.line;
    size_t start = c.sc.pos;
    int token = OneToken(c);
    if (token < 0) continue;
    Remember(c, token, line, start);
    return token;
  }
}

const char* ScannerLiteral(const CompileState& s) { return s.Scan.literal; }

const char* ScannerFailure(const CompileState& s) { return s.Scan.failure; }

int ScannerLine(const CompileState& s) { return s.Scan.line; }

int ScannerLastTextLine(const CompileState& s) { return s.Scan.lastTextLine; }

bool ScannerReachedEnd(const CompileState& s) { return s.Scan.reachedEnd; }

int ScannerLastToken(const CompileState& s) { return s.Scan.lastToken; }

int ScannerLastTokenLine(const CompileState& s) { return s.Scan.lastTokenLine; }

int ScannerLinesBelowLastToken(CompileState& s) {
  Scan c{s, s.Scan, nullptr};
  int lineEnds = 0;
  bool textAfterLastEnd = false;
  size_t p = c.sc.lastTokenPos;
  while (p < c.sc.text.size()) {
    bool lineEnd = At(c, p) == '\n' || At(c, p) == '\r';
    p = lineEnd ? p + LineEndLength(c, p) : SkipToPossibleLineEnd(c, p);
    if (lineEnd) ++lineEnds;
    textAfterLastEnd = !lineEnd;
  }
  // The first line end closes the last token's own line; text after the last one is a line
  // that the final newline would have closed.
  if (lineEnds == 0) return 0;
  return lineEnds - 1 + (textAfterLastEnd ? 1 : 0);
}
