#include "sound_names.h"

#include <cstdlib>
#include <map>
#include <set>

#include "ascii_case.h"
#include "dump_result.h"
#include "text_format.h"

namespace {

// The names each section's links give, in order; a section the file names at a number it
// cannot tell is under kUnknownSection.
constexpr int kUnknownSection = -1;
using LinkNames = std::map<int, std::vector<std::string>>;

struct FileNames {
  LinkNames links;
  std::map<std::string, std::string> spelling;  // lower case -> as the definition writes it
  std::vector<int> unknownLines;                // script lines whose section is not a number
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    // CR LF and LF CR end one line, as the compiler reads them.
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if ((next == '\r' || next == '\n') && next != c) ++i;
    lines.push_back(line);
    line.clear();
  }
  lines.push_back(line);
  return lines;
}

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The text of a line before its comment (";" or "//" outside quotes), without leading blanks.
std::string Statement(const std::string& line) {
  bool quoted = false;
  size_t end = 0;
  for (; end < line.size(); ++end) {
    if (line[end] == '"') quoted = !quoted;
    if (!quoted && (line[end] == ';' || line.compare(end, 2, "//") == 0)) break;
  }
  const size_t start = line.find_first_not_of(" \t");
  return start == std::string::npos || start >= end ? "" : line.substr(start, end - start);
}

// Reads the words of a statement: names, numbers and single characters, blanks between them.
struct Words {
  const std::string& text;
  size_t at = 0;

  void Blanks() {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  }
  std::string Word() {
    Blanks();
    const size_t start = at;
    if (at < text.size() && text[at] == '.') ++at;
    while (at < text.size() && (IsNameChar(text[at]) || text[at] == '$')) ++at;
    if (at == start && at < text.size()) ++at;
    return text.substr(start, at - start);
  }
};

// A number as the script writes one: 12, 12d, 0Ch, 1100b; -1 when it is none.
long Number(const std::string& word) {
  if (word.empty() || word[0] < '0' || word[0] > '9') return -1;
  const char last = AsciiLower(word.back());
  const int base = last == 'h' ? 16 : last == 'b' ? 2 : 10;
  const std::string digits = last == 'h' || last == 'b' || last == 'd' ? word.substr(0, word.size() - 1) : word;
  char* end = nullptr;
  const long value = std::strtol(digits.c_str(), &end, base);
  return digits.empty() || *end != '\0' ? -1 : value;
}

long Value(const std::string& word, const std::map<std::string, long>& defines) {
  const auto define = defines.find(AsciiLowerCopy(word));
  return define != defines.end() ? define->second : Number(word);
}

const char* const kSoundKeywords[] = {".adpcm", ".pcm8", ".ulaw", ".pcm16", ".eq01", ".silence", ".mute"};

bool IsSoundKeyword(const std::string& keyword) {
  for (const char* k : kSoundKeywords) {
    if (keyword == k) return true;
  }
  return false;
}

// ".SECTION [N] $GROUPS = name(...)": the section's number (or kUnknownSection) and the name.
bool GroupsLine(Words& w, const std::map<std::string, long>& defines, int* section, std::string* name) {
  if (w.Word() != "[") return false;
  const std::string number = w.Word();
  std::string close = w.Word();
  // An expression (N+1) is more than qs71dump works out: the section stays unknown.
  const long value = close == "]" ? Value(number, defines) : -1;
  while (close != "]" && w.at < w.text.size()) close = w.Word();
  if (AsciiLowerCopy(w.Word()) != "$groups" || w.Word() != "=") return false;
  *name = w.Word();
  *section = value >= 0 && value <= 0xFFFF ? static_cast<int>(value) : kUnknownSection;
  return !name->empty() && IsNameChar((*name)[0]);
}

void ReadStatement(const std::string& statement, int line, std::map<std::string, long>* defines, FileNames* names) {
  Words w{statement};
  const std::string keyword = AsciiLowerCopy(w.Word());
  if (keyword == ".define") {
    const std::string name = w.Word();
    if (w.Word() != "=") return;
    const std::string value = w.Word();
    w.Blanks();
    const long number = w.at == statement.size() ? Value(value, *defines) : -1;
    if (number >= 0) (*defines)[AsciiLowerCopy(name)] = number;
  } else if (IsSoundKeyword(keyword)) {
    const std::string name = w.Word();
    names->spelling.emplace(AsciiLowerCopy(name), name);
  } else if (keyword == ".section") {
    int section = 0;
    std::string name;
    if (!GroupsLine(w, *defines, &section, &name)) return;
    if (section == kUnknownSection) names->unknownLines.push_back(line);
    names->links[section].push_back(name);
  }
}

FileNames ScriptNames(const std::string& text) {
  FileNames names;
  std::map<std::string, long> defines;
  const std::vector<std::string> lines = Lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string statement = Statement(lines[i]);
    if (statement.empty()) continue;
    // A line that starts with a name ends the script, for the compiler too.
    if (IsNameChar(statement[0])) break;
    if (statement[0] == '.') ReadStatement(statement, static_cast<int>(i) + 1, &defines, &names);
  }
  return names;
}

// qs71gen's map: its sha256 line, under "Sounds" each sound's name as defined, and under
// "Sections" each section's links by name, as the links write it.
FileNames MapNames(const std::string& text, std::string* sha256) {
  FileNames names;
  bool sounds = false, sections = false;
  int section = kUnknownSection;
  for (const std::string& line : Lines(text)) {
    if (line.rfind("sha256 ", 0) == 0) *sha256 = Statement(line.substr(7));
    if (line.rfind("Sounds (", 0) == 0) sounds = true;
    if (sounds && line.rfind("  ", 0) == 0 && line.rfind("  name ", 0) != 0) {
      Words w{line};
      const std::string name = w.Word();
      names.spelling.emplace(AsciiLowerCopy(name), name);
    }
    if (line.empty()) sounds = false;
    if (line.rfind("Sections (", 0) == 0) sections = true;
    if (!sections) continue;
    if (line.rfind("  [", 0) == 0) section = std::atoi(line.c_str() + 3);
    if (line.rfind("      ", 0) == 0 && section != kUnknownSection) {
      Words w{line};
      names.links[section].push_back(w.Word());
    }
    if (line.empty()) sections = false;
  }
  return names;
}

bool Nameable(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!IsNameChar(c)) return false;
  }
  return true;
}

// Each sound of the image takes the name its links have in the file, section by section.
void NameSounds(const std::string& file, const FileNames& names, ImageMap* map, std::string* warnings) {
  std::map<int, std::string> byId;
  for (const Section& section : map->sections) {
    if (section.links.empty()) continue;
    const auto given = names.links.find(section.number);
    const size_t count = given == names.links.end() ? 0 : given->second.size();
    if (count != section.links.size()) {
      *warnings += Format("qs71dump: warning: %s names %d links of section %d where the image has %d; its sounds "
                          "keep the names of their positions\n", file.c_str(), static_cast<int>(count), section.number,
                          static_cast<int>(section.links.size()));
      continue;
    }
    for (size_t i = 0; i < count; ++i) {
      const auto spelt = names.spelling.find(AsciiLowerCopy(given->second[i]));
      byId.emplace(section.links[i].soundId, spelt != names.spelling.end() ? spelt->second : given->second[i]);
    }
  }
  std::set<std::string> taken;
  for (Sound& sound : map->sounds) {
    const auto name = byId.find(sound.id);
    // Names that only differ in letter case are one file on some systems.
    if (name == byId.end() || !Nameable(name->second) || !taken.insert(AsciiLowerCopy(name->second)).second) continue;
    sound.name = name->second;
  }
}

}  // namespace

int TakeSoundNames(const std::string& file, const std::string& text, ImageMap* map, std::string* warnings,
                   std::string* problem) {
  const bool isMap = text.rfind("qs71gen map of ", 0) == 0;
  std::string sha256;
  const FileNames names = isMap ? MapNames(text, &sha256) : ScriptNames(text);
  if (isMap && text.find("\nFAILED: no image written\n") != std::string::npos) {
    *problem = file + " is the map of a failed compile, which wrote no image";
    return DumpNamesFailed;
  }
  if (isMap && sha256 != map->sha256) {
    *problem = Format("%s is a map of another image (sha256 %s; %s has %s): give the map qs71gen wrote with it, "
                      "or its script", file.c_str(), sha256.c_str(), map->path.c_str(), map->sha256.c_str());
    return DumpNamesFailed;
  }
  for (int line : names.unknownLines) {
    *warnings += Format("qs71dump: warning: %s:%d: a section number that is not a number or a .DEFINE of one; "
                        "give the map qs71gen wrote to name its sounds\n", file.c_str(), line);
  }
  NameSounds(file, names, map, warnings);
  return DumpOk;
}
