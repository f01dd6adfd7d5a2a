#pragma once
// What every TOML file of qs71 goes through before toml++ reads it: the projects of qs71gen and
// the station policy of qs71prog.
//
// toml++ 3.3.0 (Debian 12's) reaches undefined behaviour (TOML_UNREACHABLE in its test for
// non-ASCII whitespace) on a non-ASCII character where it skips whitespace. TOML has no such
// byte outside strings and comments, so a reader refuses the text at the line this gives before
// toml++ sees it.

#include <string>
#include <string_view>

// The text without the UTF-8 byte-order mark that Notepad and other Windows editors may put
// first.
std::string_view WithoutByteOrderMark(std::string_view text);

// The line of the first byte above 127 outside a string or a comment (a quote inside a bare
// word starts none), of one that a backslash in a string escapes, or of one where a
// line-ending backslash in a """ string skips the whitespace that follows; 0 when there is
// none.
unsigned FirstNonAsciiLineForToml(std::string_view text);
