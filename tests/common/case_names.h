#pragma once
// ctest lists a parameterised case under the name its suite gives it, and GoogleTest takes
// only letters, digits and '_' there. These make that name from what a table row already says
// about itself, so that a failing case can be told at a glance and run on its own.

#include <string>
#include <string_view>
#include <vector>

// "--write=a.bin --no-verify" -> "write_eq_a_bin_no_verify": each run of other characters
// becomes one '_', none at either end. '=' is spelled "eq", since "--write" and "--write="
// are different command lines.
inline std::string CaseName(std::string_view text) {
  std::string name;
  bool gap = false;
  for (char c : text) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum && c != '=') {
      gap = true;
      continue;
    }
    if ((gap || c == '=') && !name.empty()) name += '_';
    name += c == '=' ? std::string("eq") : std::string(1, c);
    gap = c == '=';
  }
  return name;
}

// A command line's name; "no_arguments" for none.
inline std::string CaseName(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) line += argument + " ";
  return arguments.empty() ? "no_arguments" : CaseName(line);
}
