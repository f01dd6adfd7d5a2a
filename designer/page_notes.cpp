#include "page_notes.h"

#include <cstdio>
#include <vector>

#include "ascii_case.h"
#include "audio/sound_preparation.h"
#include "compile_state.h"
#include "image_map.h"
#include "image_page.h"
#include "name_tables.h"
#include "output_file.h"
#include "page_players.h"
#include "link_map.h"
#include "sha256.h"
#include "sound_kinds.h"
#include "sound_report.h"
#include "warnings.h"
#include "wrap_math.h"

namespace {

// A prepared sound's figures, as the map gives them; a sound the preparation did not touch
// (silence, mute) leaves its cells empty.
void AddPreparation(const CompileState& s, PageNotes* notes, SoundNote* sound) {
  if (!s.Prep.options.Active()) return;
  notes->extraColumns = kPreparationHeadings;
  auto it = s.Prep.records.find(AsciiLowerCopy(sound->name));
  if (it != s.Prep.records.end() && it->second.refusal.empty()) {
    sound->extra = PreparationCells(it->second);
  } else {
    sound->extra.assign(kPreparationHeadings.size(), "");
  }
}

// With --spl, each sound's predicted levels in the toy, after any other columns.
void AddSoundPressure(const CompileState& s, PageNotes* notes) {
  if (!s.Reports.spl.given) return;
  const size_t columns = notes->extraColumns.size();
  notes->extraColumns.insert(notes->extraColumns.end(), {"LAeq dB in the toy", "LCpeak dB in the toy"});
  for (SoundNote& sound : notes->sounds) {
    const SoundReport* report = FindSoundReport(s, sound.name);
    sound.extra.resize(columns);
    sound.extra.push_back(report != nullptr ? SoundPressureCell(report->pressure, false) : "");
    sound.extra.push_back(report != nullptr ? SoundPressureCell(report->pressure, true) : "");
  }
}

PageNotes NotesOf(CompileState& s) {
  PageNotes notes;
  notes.script = s.ArgCount > 1 ? s.Args[1] : "";
  std::vector<const SoundDef*> sounds = SoundsNewestFirst(s);
  for (auto it = sounds.rbegin(); it != sounds.rend(); ++it) {
    const SoundDef& d = **it;
    const int64_t chipStart = static_cast<uint32_t>(WrapAdd(s.SoundBase, d.start));
    const int64_t samples = KindHasData(d.kind) ? d.frames : static_cast<int64_t>(d.end) + 1;
    notes.sounds.push_back({d.kind, chipStart, samples, d.name, d.text, {}, SoundBytesTaken(s, d)});
    AddPreparation(s, &notes, &notes.sounds.back());
  }
  AddSoundPressure(s, &notes);
  for (const LinkRecord& link : s.Links) notes.links.push_back({link.section, link.sound});
  for (const GivenWarning& w : s.Warnings.given) notes.warnings.push_back({w.line, w.text, w.sound, SoundBadgeText(w.badge)});
  notes.players = [&s](const SoundNote& sound) { return CompilePlayers(s, sound); };
  notes.levels = PlayedLevelsText;
  return notes;
}

// The image is read back as any inspector reads it, at the compile's own clock, GrpAdr and
// Offset, so the page never guesses what the script set.
int BuildMap(CompileState& s, const std::vector<uint8_t>& image, ImageMap* map,
             std::string* problem) {
  DumpSettings settings;
  settings.mainClockHz = static_cast<int64_t>(s.MainClk) * 32;
  settings.grpAdr = s.GrpAdr;
  settings.offsetGiven = true;
  settings.offset = s.Offset;
  map->path = s.ArgCount > 2 ? s.Args[2] : "";
  Sha256 sha;
  sha.Add(image.data(), image.size());
  map->sha256 = sha.HexDigest();
  return BuildImageMap(image, settings, map, problem);
}

}  // namespace

int WriteCompilePage(CompileState& s, const std::string& path) {
  std::vector<uint8_t> image;
  ImageMap map;
  std::string problem;
  if (!ReadImageBack(s, &image)) {
    problem = path + ": the image cannot be read back from its output";
  } else if (BuildMap(s, image, &map, &problem) != 0) {
    problem = path + ": the image does not read back: " + problem;
  } else {
    const PageNotes notes = NotesOf(s);
    if (WriteImagePage(path, ImagePage(image, map, &notes), &problem) == 0) return 0;
  }
  std::fprintf(s.Err, "qs71gen: the page cannot be written: %s; no image written\n",
               problem.c_str());
  return 1;
}

int WriteFailedPage(CompileState& s, const std::string& path) {
  // The lines that head the failed map, from the same records.
  std::vector<std::string> lines = s.Reports.errors;
  if (!s.Reports.budget.empty()) lines.push_back(s.Reports.budget);
  const PageNotes notes = NotesOf(s);
  std::string problem;
  const std::string image = s.ArgCount > 2 ? s.Args[2] : "";
  if (WriteImagePage(path, FailedCompilePage(image, notes, lines, FailedMapText(s)), &problem) == 0) return 0;
  std::fprintf(s.Err, "qs71gen: the page cannot be written: %s\n", problem.c_str());
  return 1;
}
