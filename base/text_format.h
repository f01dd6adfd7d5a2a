#pragma once
// Messages and listings are printf formats: the generator's listing, the inspector's reports
// and the programmer's messages are compared byte for byte with what the chip tools printed,
// so they are rendered by the C formatter rather than by streams.

#include <cstdarg>
#include <string>

// Formats like snprintf into a string of whatever size the text needs.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Format(const char* fmt, ...);
std::string FormatV(const char* fmt, std::va_list args);

// A whole text as a finite decimal number from low to high; false for anything else ("", "3x").
bool ParseNumber(const std::string& text, double low, double high, double* value);

// What is wrong with a text that ParseNumber refused: "is not a number" or "is out of range".
const char* NumberFault(const std::string& text);

// A path or any other word of a command that the user pastes: bare when the shell would take it
// as it stands, otherwise quoted, so that the program gets the word exactly and the shell runs
// nothing of it. For a POSIX shell in single quotes (a quote inside as '\''). For cmd.exe in
// double quotes, with backslashes before a quote doubled as the C runtime reads a command line;
// a word with %, ! or a double quote, which cmd.exe would expand or end its quotes at even
// inside double quotes, has every character that cmd.exe treats specially escaped with ^
// instead, its quotes too (see CmdShellWord).
std::string PosixShellWord(const std::string& path);
std::string CmdShellWord(const std::string& path);

// A text as a terminal may show it: every control character (C0, DEL and the C1 range, which
// a terminal takes for escape sequences) and every byte that is not UTF-8 written as \xHH
// (C1 as \u00HH), the rest as it is. A name from a trace or a log cannot move the cursor,
// recolour the screen or retitle the window of the person reading it.
std::string VisibleText(const std::string& text);

// The columns a line takes on a terminal: its characters (UTF-8 sequences count once, "—" is
// one column) without the colour sequences (ESC ... m), which take none.
int VisibleColumns(const std::string& line);
