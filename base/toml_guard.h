#pragma once
// The check every TOML text passes before toml++ reads it.
//
// toml++ 3.3.0, Debian 12's, tests a character for Unicode whitespace with a generated table
// that ends in __builtin_unreachable() for most characters above U+00A0 (U+00A1 to U+0499,
// U+2D6E to U+3167 but U+3000, U+FCA6 to U+FEFE): undefined behaviour, which a release build
// happens to turn into a parse error. It makes that test wherever it looks for the end of a
// token: between tokens, on every character of a value that is not a text in quotes (a number,
// a date: `a = +"é"` is scanned as one value up to the next blank, quotes and all), after a
// backslash in a """ text, and at the first character after a line-ending backslash there.
// TOML allows no character above 127 in any of these places, so refusing them refuses no
// valid TOML text.

#include <string_view>

struct TomlHazard {
  unsigned line = 0;       // from 1; 0: the text is safe to give to toml++
  const char* what = "";   // "a character that is not ASCII ...", to follow "FILE:LINE: "
};

// The text without the UTF-8 byte-order mark that Notepad and other Windows editors may put
// first.
std::string_view WithoutByteOrderMark(std::string_view text);

// The first place in text where toml++ 3.3 would test a character above 127 for whitespace.
// A UTF-8 byte-order mark at the start is passed over, as toml++ passes over it.
TomlHazard FindTomlHazard(std::string_view text);
