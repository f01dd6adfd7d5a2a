#pragma once
// A script with some sounds stored otherwise: the codec keyword of a sound's definition and the
// rate of each of its links replaced where the script's own scanner finds them, and every other
// byte (comments, blanks, line ends, letter case) as it was. What --fit writes.
//
// A definition is the first `.ADPCM`, `.PCM8`, `.PCM16` or `.ULAW` line of the sound's name (a
// later one is a redefinition the compile ignores); a link is a `.SECTION [n] $GROUPS =
// name(rate):flag` line, whose rate (the whole expression between the parentheses: a number, a
// constant, a sum) is replaced by the new rate in decimal.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ScriptEdit {
  std::string sound;  // as named in the script, in any letter case
  int32_t kind = 0;   // the new codec; 0 keeps it
  int32_t rate = 0;   // the new rate of every link; 0 keeps them
};

// The script's text with the edits made. messages takes what the scanner would say about the
// text (a literal too long), which a script that compiled never gives.
std::string RewriteScript(const std::string& text, const std::vector<ScriptEdit>& edits, FILE* messages);
