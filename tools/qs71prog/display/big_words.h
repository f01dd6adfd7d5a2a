#pragma once

#include <string>
#include <vector>

namespace qs71prog {

// A word in letters five lines high, built of '#' and spaces, so that the verdict on a part
// reads from across the bench on any terminal, with no font or colour to rely on. Knows the
// letters of the verdicts; any other character is a space.
std::vector<std::string> BigWord(const std::string& word);

}  // namespace qs71prog
