#pragma once
// Well-formed UTF-8, as the JSON documents, the trace's PostgreSQL database and a person's
// terminal need it: one definition of it for every program.

#include <cstddef>
#include <string>
#include <string_view>

// The length of the well-formed UTF-8 sequence that starts at value[at], or 0 when there is
// none there (a byte of another encoding, an overlong form, a surrogate, a code point above
// U+10FFFF). Only sequences of more than one byte count: an ASCII byte gives 0 too.
size_t Utf8SequenceLength(std::string_view value, size_t at);

// What keeps value from being one line of plain text: "" when it is well-formed UTF-8 without
// control characters (below 0x20, 0x7F, and the C1 controls U+0080 to U+009F); otherwise, in
// words, "is not UTF-8 (byte 0xE9 at 4)" or "holds a control character (byte 0x1B at 1)", counting
// bytes from 1.
std::string PlainTextFault(std::string_view value);

// value as it may be shown on a terminal or in a message: every byte that is not part of plain
// UTF-8 text (a control character, a byte of another encoding) as \xNN, and a backslash as \\.
std::string PrintableText(std::string_view value);
