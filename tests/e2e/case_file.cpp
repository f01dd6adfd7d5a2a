#include "case_file.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

const int16_t kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool ParseHexBytes(const std::vector<std::string>& words, size_t from, std::vector<uint8_t>* out) {
  for (size_t i = from; i < words.size(); ++i) {
    std::string w = words[i];
    size_t star = w.find('*');
    long repeat = star == std::string::npos ? 1 : std::strtol(w.c_str() + star + 1, nullptr, 10);
    const std::string digits = w.substr(0, star);
    char* end = nullptr;
    long v = std::strtol(digits.c_str(), &end, 16);
    if (*end != '\0' || v < 0 || v > 255 || repeat < 1) return false;
    out->insert(out->end(), static_cast<size_t>(repeat), static_cast<uint8_t>(v));
  }
  return true;
}

bool ParseImageLine(const std::string& line, ImageExpectation* image) {
  std::vector<std::string> w = Words(line);
  if (w.empty()) return true;
  if (w[0] == "none") return image->mustBeAbsent = true;
  if (w[0] == "size" && w.size() == 2) return image->size = std::strtoul(w[1].c_str(), nullptr, 0), true;
  if (w[0] == "fill" && w.size() == 2) return image->fill = std::strtoul(w[1].c_str(), nullptr, 16), true;
  if (w[0].back() != ':') return false;
  ImageRun run;
  run.offset = std::strtoul(w[0].c_str(), nullptr, 16);
  if (w.size() == 2 && w[1] == "ulaw-table") run.bytes = UlawTableBytes();
  else if (w.size() == 2 && w[1] == "step-table") run.bytes = StepTableBytes();
  else if (!ParseHexBytes(w, 1, &run.bytes)) return false;
  image->runs.push_back(run);
  return true;
}

bool ParseHeaderLine(const std::string& line, CaseFile* c) {
  std::vector<std::string> w = Words(line);
  if (w.empty() || w[0][0] == '#') return true;
  if (w[0] == "args:") return c->args.assign(w.begin() + 1, w.end()), true;
  if (w[0] == "only:") return true;  // platform filter, read by the scripts that run cases
  if (w[0] == "exit:" && w.size() == 2) return c->exitCode = std::atoi(w[1].c_str()), true;
  if (w[0] == "link:" && w.size() == 3) return c->links.emplace_back(w[1], w[2]), true;
  if (w[0] == "replaced-link:" && w.size() == 3) return c->replacedLinks.emplace_back(w[1], w[2]), true;
  if (w[0] == "fifo:" && w.size() == 2) return c->fifos.push_back(w[1]), true;
  if (w[0] == "mode:" && w.size() == 3) {
    return c->modes.emplace_back(w[1], std::strtoul(w[2].c_str(), nullptr, 8)), true;
  }
  if (w[0] == "mount:" && (w.size() == 3 || w.size() == 4)) {
    c->mount = {w[1], w[2], w.size() == 4 ? w[3] : ""};
    return w[2] == "readonly" || (w[2] == "tmpfs" && w.size() == 4);
  }
  if (w[0] == "failed-image:" && w.size() == 2) return c->keepFailedImage = w[1] != "no", true;
  if (w[0] == "wav:" && w.size() >= 2) {
    WavInput wav{w[1], {}};
    for (size_t i = 2; i < w.size(); ++i) {
      size_t eq = w[i].find('=');
      if (eq == std::string::npos) return false;
      wav.params[w[i].substr(0, eq)] = w[i].substr(eq + 1);
    }
    c->wavs.push_back(wav);
    return true;
  }
  if (w[0] == "file:" && w.size() >= 2) {
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(w, 2, &bytes)) return false;
    c->files.emplace_back(w[1], bytes);
    return true;
  }
  return false;
}

// Splits the text into the header and the "=== name" sections, each kept byte for byte.
std::map<std::string, std::string> Sections(const std::string& text, std::string* header) {
  std::map<std::string, std::string> out;
  std::string* current = header;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl + 1;
    std::string line = text.substr(pos, end - pos);
    if (line.rfind("=== ", 0) == 0) {
      std::vector<std::string> words = Words(line.substr(4));
      std::string name = words.empty() ? "" : words[0];
      if ((name == "file" || name == "input") && words.size() == 2) name += " " + words[1];
      current = &out[name];
    } else {
      *current += line;
    }
    pos = end;
  }
  return out;
}

}  // namespace

std::vector<uint8_t> UlawTableBytes() {
  std::vector<uint8_t> out;
  for (int c = 0; c < 128; ++c) {
    int v = (((c & 15) * 8 + 132) << (c >> 4)) - 132;
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  }
  return out;
}

std::vector<uint8_t> StepTableBytes() {
  std::vector<uint8_t> out;
  for (int16_t s : kSteps) {
    out.push_back(static_cast<uint8_t>(s));
    out.push_back(static_cast<uint8_t>(s >> 8));
  }
  return out;
}

bool ParseCaseFile(const std::string& text, CaseFile* c, std::string* error) {
  std::string header;
  std::map<std::string, std::string> sections = Sections(text, &header);
  std::istringstream lines(header);
  for (std::string line; std::getline(lines, line);) {
    if (!ParseHeaderLine(line, c)) return *error = "bad header line: " + line, false;
  }
  if (!sections.count("script") || !sections.count("stdout")) {
    return *error = "a case needs === script and === stdout", false;
  }
  c->script = sections["script"];
  c->expectedStdout = sections["stdout"];
  if (sections.count("stderr")) c->expectedStderr = sections["stderr"];
  for (const auto& [name, text] : sections) {
    if (name.rfind("file ", 0) == 0) c->expectedFiles.emplace_back(name.substr(5), text);
    if (name.rfind("input ", 0) == 0) c->files.emplace_back(name.substr(6), std::vector<uint8_t>(text.begin(), text.end()));
  }
  if (sections.count("image")) {
    c->image.present = true;
    std::istringstream img(sections["image"]);
    for (std::string line; std::getline(img, line);) {
      if (!ParseImageLine(line, &c->image)) return *error = "bad image line: " + line, false;
    }
  }
  return true;
}

std::vector<uint8_t> ExpandImage(const ImageExpectation& image) {
  std::vector<uint8_t> out(image.size, image.fill);
  for (const ImageRun& run : image.runs) {
    if (out.size() < run.offset + run.bytes.size()) out.resize(run.offset + run.bytes.size(), image.fill);
    std::copy(run.bytes.begin(), run.bytes.end(), out.begin() + run.offset);
  }
  return out;
}

namespace {

bool Matches(const std::vector<uint8_t>& bytes, size_t at, const std::vector<uint8_t>& table) {
  return at + table.size() <= bytes.size() &&
         std::equal(table.begin(), table.end(), bytes.begin() + static_cast<long>(at));
}

}  // namespace

std::string DescribeImage(const std::vector<uint8_t>& bytes) {
  std::string out = "size " + std::to_string(bytes.size()) + "\nfill ff\n";
  const std::vector<uint8_t> ulaw = UlawTableBytes();
  const std::vector<uint8_t> steps = StepTableBytes();
  char buf[32];
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] == 0xFF) { ++i; continue; }
    std::snprintf(buf, sizeof buf, "%04zx:", i);
    if (Matches(bytes, i, ulaw)) { out += std::string(buf) + " ulaw-table\n"; i += ulaw.size(); continue; }
    if (Matches(bytes, i, steps)) { out += std::string(buf) + " step-table\n"; i += steps.size(); continue; }
    out += buf;
    size_t end = std::min(bytes.size(), i + 16);
    for (; i < end; ++i) {
      std::snprintf(buf, sizeof buf, " %02x", bytes[i]);
      out += buf;
    }
    out += "\n";
  }
  return out;
}
