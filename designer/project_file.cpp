#include "project_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <toml++/toml.h>

#include "ascii_case.h"
#include "audio/adpcm_encoder.h"
#include "compile_state.h"
#include "file_system.h"
#include "output_writer.h"
#include "sound_kinds.h"
#include "text_format.h"
#include "toml_guard.h"

namespace {

// Where a key may stand: at the top, in [preparation], in a [sound.NAME].
enum Place : unsigned { kTop = 1, kPreparation = 2, kSound = 4 };

enum class Kind { Script, Image, Path, Folder, Parameters, PartSize, Flag, Step, Quality, Gain };

struct KeyRule {
  const char* key;
  unsigned places;
  Kind kind;
  const char* expected;
  std::string GenOptions::*text;        // a path, or a step's text in [preparation]
  bool GenOptions::*flag;               // a switch at the top or in [preparation]
  std::string PreparationTexts::*step;  // a step's text in a sound
};

// The keys mirror the command line's options; a step's text is the option's value.
const KeyRule kKeys[] = {
    {"script", kTop, Kind::Script, "the script's file name in quotes", nullptr, nullptr, nullptr},
    {"image", kTop, Kind::Image, "the image's file name in quotes", nullptr, nullptr, nullptr},
    {"map", kTop, Kind::Path, "a file name in quotes", &GenOptions::map, nullptr, nullptr},
    {"page", kTop, Kind::Path, "a file name in quotes", &GenOptions::html, nullptr, nullptr},
    {"failed_image", kTop, Kind::Path, "a file name in quotes", &GenOptions::failedImage, nullptr, nullptr},
    {"keep_prepared", kTop, Kind::Folder, "the name of a folder that exists, in quotes", &GenOptions::keepPrepared,
     nullptr, nullptr},
    {"parameters", kTop, Kind::Parameters, "a list of at most 7 texts or whole numbers (the script's %3 to %9)",
     nullptr, nullptr, nullptr},
    {"part_size", kTop, Kind::PartSize,
     "262144, 524288, 1048576 or 2097152 (bytes), or \"256K\", \"512K\", \"1M\" or \"2M\"", nullptr, nullptr, nullptr},
    {"strict", kTop, Kind::Flag, "true or false", nullptr, &GenOptions::strict, nullptr},
    {"resample", kPreparation, Kind::Flag, "true or false", nullptr, &GenOptions::resample, nullptr},
    {"highpass", kPreparation | kSound, Kind::Step, "Hz as a number, \"HZ:ORDER\", or false", &GenOptions::highpass,
     nullptr, &PreparationTexts::highpass},
    {"trim", kPreparation | kSound, Kind::Step, "dBFS as a number, \"DBFS:MS\", \"peak-DB\" or \"peak-DB:MS\", or false", &GenOptions::trim, nullptr,
     &PreparationTexts::trim},
    {"loudness", kPreparation | kSound, Kind::Step, "LUFS as a number, or false", &GenOptions::loudness, nullptr,
     &PreparationTexts::loudness},
    {"limit", kPreparation | kSound, Kind::Step, "dBFS as a number, or false", &GenOptions::limit, nullptr,
     &PreparationTexts::limit},
    {"dither", kPreparation | kSound, Kind::Flag, "true or false", nullptr, &GenOptions::dither, nullptr},
    {"adpcm_quality", kPreparation | kSound, Kind::Quality, "a level from 0 to 3", nullptr, nullptr, nullptr},
    {"gain", kSound, Kind::Gain, "dB as a number from -40 to 40", nullptr, nullptr, nullptr},
};

struct PartSizeName {
  const char* text;
  int32_t bytes;
};

const PartSizeName kPartSizes[] = {{"256K", 0x40000}, {"512K", 0x80000}, {"1M", 0x100000}, {"2M", 0x200000}};

constexpr size_t kMaxParameters = 7;  // %3 to %9

const KeyRule* FindKey(std::string_view key, unsigned place) {
  for (const KeyRule& rule : kKeys) {
    if (key == rule.key && (rule.places & place) != 0) return &rule;
  }
  return nullptr;
}

std::string KeysOf(unsigned place) {
  std::string keys;
  for (const KeyRule& rule : kKeys) {
    if ((rule.places & place) != 0) keys += (keys.empty() ? "" : ", ") + std::string(rule.key);
  }
  return keys;
}

// The shortest text that reads back as the same number, so that 0.1 is "0.1" in a message.
std::string NumberText(double value) {
  if (value == std::nearbyint(value) && std::fabs(value) < 1e15) return Format("%.0f", value);
  std::string text;
  for (int digits = 1; digits <= 17; ++digits) {
    text = Format("%.*g", digits, value);
    if (std::strtod(text.c_str(), nullptr) == value) break;
  }
  return text;
}

class Reader {
 public:
  Reader(const std::string& path, ProjectFile* project, std::string* error)
      : path_(path), project_(project), error_(error) {}

  bool Root(const toml::table& root) {
    for (auto&& [key, node] : root) {
      if (key.str() == "preparation" && node.is_table()) {
        if (!Table(*node.as_table(), kPreparation, nullptr)) return false;
      } else if (key.str() == "sound" && node.is_table()) {
        if (!Sounds(*node.as_table())) return false;
      } else if (!Entry(key, node, kTop, nullptr)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool Fail(const toml::key& at, const std::string& text) {
    *error_ = Format("%s:%u: %s", path_.c_str(), static_cast<unsigned>(at.source().begin.line), text.c_str());
    return false;
  }

  // A table's entries as the file has them: toml++ keeps them sorted by key, and the first
  // mistake in the file is the one to name.
  static std::vector<std::pair<const toml::key*, const toml::node*>> InFileOrder(const toml::table& table) {
    std::vector<std::pair<const toml::key*, const toml::node*>> entries;
    for (auto&& [key, node] : table) entries.emplace_back(&key, &node);
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
      const toml::source_position& x = a.first->source().begin;
      const toml::source_position& y = b.first->source().begin;
      return x.line != y.line ? x.line < y.line : x.column < y.column;
    });
    return entries;
  }

  bool Sounds(const toml::table& sounds) {
    std::unordered_map<std::string, std::string> seen;  // lower-case name: where
    for (const auto& [keyAt, nodeAt] : InFileOrder(sounds)) {
      const toml::key& key = *keyAt;
      const toml::node& node = *nodeAt;
      const std::string name(key.str());
      if (!node.is_table()) return Fail(key, Format("sound.%s needs a section of settings: [sound.%s]", name.c_str(), name.c_str()));
      SoundSettings own;
      own.name = name;
      own.where = Format("%s:%u", path_.c_str(), static_cast<unsigned>(key.source().begin.line));
      // The script's names ignore letter case, so two sections may be one sound.
      auto [it, fresh] = seen.emplace(AsciiLowerCopy(name), own.where);
      if (!fresh) return Fail(key, Format("[sound.%s] is a second section for one sound (the first: %s); sound names ignore letter case", name.c_str(), it->second.c_str()));
      if (!Table(*node.as_table(), kSound, &own)) return false;
      project_->sounds.push_back(own);
    }
    return true;
  }

  bool Table(const toml::table& table, unsigned place, SoundSettings* own) {
    for (const auto& [key, node] : InFileOrder(table)) {
      if (!Entry(*key, *node, place, own)) return false;
    }
    return true;
  }

  bool Entry(const toml::key& key, const toml::node& node, unsigned place, SoundSettings* own) {
    const KeyRule* rule = FindKey(key.str(), place);
    if (rule == nullptr) {
      const std::string in = place == kTop ? "at the top" : place == kPreparation ? "in [preparation]" : "in [sound." + own->name + "]";
      std::string known = KeysOf(place);
      if (place == kTop) known += ", [preparation], [sound.NAME]";
      return Fail(key, Format("unknown key %s %s; the keys there are %s", std::string(key.str()).c_str(), in.c_str(), known.c_str()));
    }
    if (Take(*rule, node, place, own)) return true;
    if (!error_->empty()) return false;
    return Fail(key, Format("%s needs %s", rule->key, rule->expected));
  }

  // False with *error_ empty for a value of the wrong type (the caller says what is expected),
  // or set, with the place, for one out of range.
  bool Take(const KeyRule& rule, const toml::node& node, unsigned place, SoundSettings* own) {
    GenOptions& options = project_->options;
    switch (rule.kind) {
      case Kind::Script: return File(node, &project_->script, FileKind::Regular, "script");
      case Kind::Image: return File(node, &project_->image, FileKind::Missing, nullptr);
      case Kind::Path: return File(node, &(options.*rule.text), FileKind::Missing, nullptr);
      case Kind::Folder: return File(node, &(options.*rule.text), FileKind::Folder, rule.key);
      case Kind::Parameters: return Parameters(node);
      case Kind::PartSize: return PartSize(node);
      case Kind::Flag:
        if (!node.is_boolean()) return false;
        if (own != nullptr) own->dither = node.as_boolean()->get() ? 1 : 0;
        else options.*rule.flag = node.as_boolean()->get();
        return true;
      case Kind::Step: return Step(rule, node, place == kSound ? &(own->texts.*rule.step) : &(options.*rule.text), own != nullptr);
      case Kind::Quality: {
        const int64_t level = node.is_integer() ? node.as_integer()->get() : -1;
        if (level < 0 || level > kAdpcmQualityMax) return false;
        (own != nullptr ? own->adpcmQuality : options.adpcmQuality) = static_cast<int>(level);
        return true;
      }
      case Kind::Gain:
        if (!node.is_number()) return false;
        own->gainDb = node.value<double>().value_or(0);
        return Checked(node, *own);
    }
    return false;
  }

  // A name from the project's folder; an input must be there as what it is asked to be.
  bool File(const toml::node& node, std::string* target, FileKind needed, const char* what) {
    if (!node.is_string() || node.as_string()->get().empty()) return false;
    *target = PathFrom(project_->folder, node.as_string()->get());
    const FileKind kind = IdentifyFile(target->c_str()).kind;
    if (needed == FileKind::Missing || kind == needed) return true;
    const char* asked = needed == FileKind::Folder ? "a folder" : "a file";
    return At(node, Format("%s %s is %s, not %s; give %s that exists", what, target->c_str(),
                           kind == FileKind::Missing ? "missing" : FileKindName(kind), asked, asked));
  }

  bool At(const toml::node& node, const std::string& text) {
    *error_ = Format("%s:%u: %s", path_.c_str(), static_cast<unsigned>(node.source().begin.line), text.c_str());
    return false;
  }

  bool Parameters(const toml::node& node) {
    const toml::array* list = node.as_array();
    if (list == nullptr || list->size() > kMaxParameters) return false;
    project_->parameters.clear();
    for (const toml::node& item : *list) {
      if (item.is_string()) project_->parameters.push_back(item.as_string()->get());
      else if (item.is_integer()) project_->parameters.push_back(std::to_string(item.as_integer()->get()));
      else return false;
    }
    return true;
  }

  bool PartSize(const toml::node& node) {
    for (const PartSizeName& size : kPartSizes) {
      if ((node.is_integer() && node.as_integer()->get() == size.bytes) ||
          (node.is_string() && EqualsNoCase(node.as_string()->get().c_str(), size.text))) {
        project_->partSize = size.bytes;
        return true;
      }
    }
    return false;
  }

  // A step's value as the command line writes it; false turns the step off (a sound without
  // the default's step), and in [preparation] leaves it off.
  bool Step(const KeyRule& rule, const toml::node& node, std::string* text, bool inSound) {
    if (node.is_boolean() || node.value<std::string>() == "off") {
      if (node.value<bool>().value_or(false)) return false;
      *text = inSound ? "off" : "";
      return true;
    }
    if (node.is_number()) *text = NumberText(node.value<double>().value_or(0));
    else if (node.is_string() && !node.as_string()->get().empty()) *text = node.as_string()->get();
    else return false;
    SoundSettings probe;
    probe.texts.*rule.step = *text;
    return Checked(node, probe);
  }

  // The preparation's own range check, with the key in place of the option's name.
  bool Checked(const toml::node& node, const SoundSettings& probe) {
    PreparationOptions options;
    std::string reason;
    if (ApplySoundSettings(probe, &options, &reason)) return true;
    if (reason.rfind("--", 0) == 0) reason.erase(0, 2);
    return At(node, reason);
  }

  const std::string& path_;
  ProjectFile* project_;
  std::string* error_;
};

bool IsNameCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// ".ADPCM name = ..." and the like: the kind's keyword and the name after it.
bool SoundLine(const std::string& line, std::string* name) {
  const size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line[start] != '.') return false;
  const size_t end = line.find_first_of(" \t", start);
  if (end == std::string::npos) return false;
  const std::string keyword = line.substr(start, end - start);
  for (int32_t kind = KindSilence; kind <= KindMute; ++kind) {
    const SoundKindInfo* info = FindSoundKind(kind);
    if (info == nullptr || !KindHasData(kind) || !EqualsNoCase(keyword.c_str(), info->statement)) continue;
    size_t i = line.find_first_not_of(" \t", end);
    const size_t first = i;
    while (i < line.size() && IsNameCharacter(line[i])) ++i;
    if (first == std::string::npos || i == first) return false;
    *name = line.substr(first, i - first);
    return true;
  }
  return false;
}

std::string StemOf(const std::string& name) {
  const std::string base = name.substr(name.find_last_of("/\\") + 1);
  const size_t dot = base.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

}  // namespace

bool ParseProjectText(const std::string& path, const std::string& whole, ProjectFile* project,
                      std::string* error) {
  const std::string text(WithoutByteOrderMark(whole));
  project->path = path;
  project->folder = FolderOf(path);
  error->clear();
  if (const TomlHazard hazard = FindTomlHazard(text); hazard.line != 0) {
    *error = Format("%s:%u: %s; the project must be TOML, whose names and values are ASCII but for texts in quotes",
                    path.c_str(), hazard.line, hazard.what);
    return false;
  }
  toml::parse_result parsed = toml::parse(std::string_view(text), std::string_view(path));
  if (!parsed) {
    const toml::parse_error& e = parsed.error();
    *error = Format("%s:%u: %s; the project must be TOML", path.c_str(),
                    static_cast<unsigned>(e.source().begin.line), std::string(e.description()).c_str());
    return false;
  }
  Reader reader(path, project, error);
  return reader.Root(parsed.table());
}

bool ReadProjectFile(const std::string& path, ProjectFile* project, std::string* error) {
  FileKind kind = FileKind::Missing;
  FILE* file = OpenRegularFile(path.c_str(), &kind);
  if (file == nullptr) {
    *error = Format("the project %s cannot be read: it is %s", path.c_str(),
                    kind == FileKind::Missing ? "missing" : FileKindName(kind));
    return false;
  }
  std::string text;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  if (!read) return *error = Format("the project %s cannot be read: %s", path.c_str(), LastSystemError().c_str()), false;
  return ParseProjectText(path, text, project, error);
}

std::vector<std::string> ScriptSoundNames(const std::string& scriptText) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < scriptText.size()) {
    size_t end = scriptText.find('\n', start);
    if (end == std::string::npos) end = scriptText.size();
    std::string name;
    if (SoundLine(scriptText.substr(start, end - start), &name)) names.push_back(name);
    start = end + 1;
  }
  return names;
}

std::string InitialProjectText(const std::string& script, const std::string& image,
                               const std::vector<std::string>& sounds) {
  const std::string stem = StemOf(script);
  std::string text = Format(
      "# The project of %s: qs71gen --project THIS-FILE compiles it.\n"
      "# Names are read from this file's folder, the script's wave files too; an option on the\n"
      "# command line goes over the setting here. Remove a '#' to use a setting.\n"
      "\n"
      "script = \"%s\"\n"
      "image = \"%s\"\n"
      "# map = \"%s.map\"          # sounds, sections, free bytes, each codec's size and SNR\n"
      "# page = \"%s.html\"        # each sound to see and hear\n"
      "# keep_prepared = \"listen\"  # a folder that takes each prepared sound as a 16-bit WAV\n"
      "# part_size = \"512K\"       # in place of the script's $FILESIZE: \"256K\", \"512K\", \"1M\", \"2M\"\n"
      "# failed_image = \"%s.failed.bin\"\n"
      "# parameters = []          # the script's %%3 to %%9\n"
      "# strict = false           # every warning counts as an error (the advice on levels and silence does not)\n"
      "\n"
      "[preparation]              # the defaults for every sound\n"
      "# resample = true          # to the rate the chip plays each sound at\n"
      "# highpass = 120           # Hz (1 to 4000), or \"HZ:ORDER\" (order 2 to 8)\n"
      "# trim = \"peak-40\"        # dB under each sound's peak, or dBFS (-120 to -1); \":MS\" a hold of 0 to 1000 ms\n"
      "# loudness = -21.0         # LUFS (-70 to -1) integrated loudness\n"
      "# limit = -1.0             # dBFS (-30 to 0): a peak limiter in place of the -1 dBFS ceiling\n"
      "# dither = true            # before the PCM8 and u-law quantisers\n"
      "# adpcm_quality = 0        # 0 to 3: how hard the ADPCM encoder searches\n",
      script.c_str(), script.c_str(), image.c_str(), stem.c_str(), stem.c_str(), stem.c_str());
  for (const std::string& name : sounds) {
    text += Format(
        "\n# [sound.%s]\n"
        "# gain = 0.0               # dB (-40 to 40) on top of the loudness target, or of its level\n"
        "# loudness = -21.0         # a step of its own; false: without the default's\n"
        "# highpass = 120\n"
        "# trim = \"peak-40\"\n"
        "# limit = -1.0\n"
        "# dither = false\n"
        "# adpcm_quality = 3\n",
        name.c_str());
  }
  return text;
}

int WriteInitialProject(CompileState& s, const std::string& file, int argc, const char* const* argv, int scriptIndex) {
  if (scriptIndex >= argc) return std::fprintf(s.Err, "qs71gen: --init-project FILE needs the script after it\n"), -2;
  const std::string script = argv[scriptIndex];
  const bool beside = FolderOf(file) == FolderOf(script);
  if (!beside && FolderOf(file) != ".") {
    std::fprintf(s.Err, "qs71gen: --init-project writes the project beside the script (%s) or into the working "
                 "folder, where the script's name holds\n", FolderOf(script).c_str());
    return -2;
  }
  if (IdentifyFile(file.c_str()).exists) return std::fprintf(s.Err, "qs71gen: %s exists; --init-project never writes over a file\n", file.c_str()), -2;
  FileKind kind = FileKind::Missing;
  FILE* in = OpenRegularFile(script.c_str(), &kind);
  if (in == nullptr) {
    std::fprintf(s.Err, "qs71gen: --init-project: the script %s cannot be read: %s\n", script.c_str(),
                 UnreadableReason(kind).c_str());
    return -2;
  }
  std::string text;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, n);
  std::fclose(in);
  const std::string named = beside ? script.substr(script.find_last_of("/\\") + 1) : script;
  const std::string stem = named.substr(0, named.find_last_of('.'));
  std::string error;
  if (!WriteNewOutputText(file, InitialProjectText(named, stem + ".bin", ScriptSoundNames(text)), &error)) {
    return std::fprintf(s.Err, "qs71gen: %s cannot be written: %s\n", file.c_str(), error.c_str()), -2;
  }
  std::fprintf(s.Out, "%s: the project of %s; qs71gen --project %s compiles it\n", file.c_str(), script.c_str(),
               HintPath(file).c_str());
  return 0;
}
