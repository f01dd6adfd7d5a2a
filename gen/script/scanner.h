#pragma once
// The script scanner: longest match over the bytes of the script, keywords case-insensitive,
// a final newline token at end of input so that the last line always ends for the grammar.
// It is run over the same file once per pass; ScannerReset rewinds it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

struct CompileState;

// Limits of one line as the chip tools always had them: the text of a line (up to its line
// feed) must fit the 8192-byte token text, and the 16384-byte input buffer.
constexpr int kMaxLineText = 8191;
constexpr int kInputBufferSize = 16384;
constexpr int kLiteralBufferSize = 1024;

// Where the scanner stands in the script of one compile.
struct ScannerState {
  std::string text;  // the whole script as read at the last reset
  bool wholeText = false;  // text holds a complete read of the script
  size_t pos = 0;
  size_t lineEnd = 0;  // position of the line feed (or end) of the line that pos is on
  int line = 1;        // the line the next token starts on
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

// Rewinds script, sets the line counter to 1 and re-arms the final newline. Reads the script
// afresh, so that a second pass sees the file as it is now; a script that cannot be rewound (a
// pipe) is scanned again from the text read before. False when it cannot be read (see
// ScannerFailure).
bool ScannerReset(CompileState& s, FILE* script);

// The line of the first Ctrl-Z byte in a script's bytes when anything but blanks, line ends
// and more Ctrl-Z bytes follows it (a read in text mode on Windows ends there); 0 otherwise.
int LineCutByCtrlZ(const std::string& bytes);

// Next token code (0 at end of input); stores the token value in *value.
int ScanToken(CompileState& s, int32_t* value);

// The limit that ended the scan (a line too long, a script that cannot be read): its message,
// which ends the compile with status 2; null while none has. The parser stops without a word
// of its own at such a limit.
const char* ScannerFailure(const CompileState& s);

// Text of the last T_LITERAL or T_USR_VAR (a literal with its quotes). The next such token
// overwrites it.
const char* ScannerLiteral(const CompileState& s);

// Current line (the line the next token starts on).
int ScannerLine(const CompileState& s);

// Line of the last token that was not a line end (1 before any): the last line that says
// something, for errors that belong to the script as a whole.
int ScannerLastTextLine(const CompileState& s);

// Where the parser stopped reading. A pass ends through the start rule either at the end of the
// script or, silently, at a line whose first token no statement can begin with; the token the
// parser looked at last tells the two apart.
bool ScannerReachedEnd(const CompileState& s);
int ScannerLastToken(const CompileState& s);
int ScannerLastTokenLine(const CompileState& s);

// Lines of the script below the last token's line that the parser never saw, counted as the
// line counter would have counted them.
int ScannerLinesBelowLastToken(CompileState& s);
