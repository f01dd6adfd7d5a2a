#include "transcript.h"

namespace qs71::emu {

Transcript::~Transcript() {
  if (file != nullptr) std::fclose(file);
}

bool Transcript::Open(const std::string& path) {
  file = std::fopen(path.c_str(), "ab");
  return file != nullptr;
}

void Transcript::Comment(const std::string& text) {
  if (file != nullptr) std::fprintf(file, "# %s\n", text.c_str());
}

void Transcript::Request(const uint8_t* payload) { Line('>', payload); }

void Transcript::Reply(const uint8_t* payload) { Line('<', payload); }

void Transcript::Line(char direction, const uint8_t* payload) {
  if (file == nullptr) return;
  static const char kHex[] = "0123456789abcdef";
  char line[2 + 128 + 2];
  line[0] = direction;
  line[1] = ' ';
  for (int i = 0; i < 64; ++i) {
    line[2 + 2 * i] = kHex[payload[i] >> 4];
    line[3 + 2 * i] = kHex[payload[i] & 0x0F];
  }
  line[130] = '\n';
  line[131] = '\0';
  std::fputs(line, file);
}

}  // namespace qs71::emu
