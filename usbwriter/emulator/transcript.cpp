#include "transcript.h"

#include <string>

#include "hex.h"

namespace qs71::emu {

Transcript::~Transcript() {
  if (file != nullptr) std::fclose(file);
}

bool Transcript::Open(const std::string& path, bool wholeLines) {
  file = std::fopen(path.c_str(), "ab");
  if (file != nullptr && wholeLines) std::setvbuf(file, nullptr, _IOLBF, BUFSIZ);
  return file != nullptr;
}

void Transcript::Comment(const std::string& text) {
  if (file != nullptr) std::fprintf(file, "# %s\n", text.c_str());
}

void Transcript::Request(const uint8_t* payload) { Line('>', payload); }

void Transcript::Reply(const uint8_t* payload) { Line('<', payload); }

void Transcript::Line(char direction, const uint8_t* payload) {
  if (file == nullptr) return;
  const std::string line = std::string(1, direction) + " " + HexBytes(payload, 64) + "\n";
  std::fputs(line.c_str(), file);
}

}  // namespace qs71::emu
