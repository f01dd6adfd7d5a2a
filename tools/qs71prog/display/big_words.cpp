#include "display/big_words.h"

namespace qs71prog {

namespace {

constexpr int kRows = 5;

struct Glyph {
  char letter;
  const char* rows[kRows];
};

constexpr Glyph kGlyphs[] = {
    {'A', {" ### ", "#   #", "#####", "#   #", "#   #"}},
    {'F', {"#####", "#    ", "#### ", "#    ", "#    "}},
    {'I', {"#####", "  #  ", "  #  ", "  #  ", "#####"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#####"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#### ", "#    ", "#    "}},
    {'S', {" ####", "#    ", " ### ", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  "}},
};

constexpr const char* kBlank = "     ";

const char* Row(char letter, int row) {
  for (const Glyph& glyph : kGlyphs) {
    if (glyph.letter == letter) return glyph.rows[row];
  }
  return kBlank;
}

}  // namespace

std::vector<std::string> BigWord(const std::string& word) {
  std::vector<std::string> lines(kRows);
  for (int row = 0; row < kRows; ++row) {
    for (size_t index = 0; index < word.size(); ++index) {
      lines[row] += (index == 0 ? "" : "  ") + std::string(Row(word[index], row));
    }
  }
  return lines;
}

}  // namespace qs71prog
