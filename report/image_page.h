#pragma once
// The image as one self-contained HTML page: the part drawn to scale, the sections and their
// links, a card per distinct sound with its figures and a player of exactly the WAV file
// --extract writes for it (beside it, from a compile, its source and prepared sound), each with
// its waveform, the option or configuration block, the volume map and the verdict
// on the system area as the text report gives them, the image's size and SHA-256. Nothing is
// loaded from anywhere: no network, no file beside it; it reads without JavaScript (a small
// inline script only adds the details of the block under the pointer) and prints on paper.
//
// qs71dump writes it from the image alone; qs71gen adds what only the compile knows, and writes
// a page of a failed compile too. A compile's page leads with its warnings, each linked to the
// card of the sound it is about, and each card carries a badge for every kind of warning its
// sound has. The page fits a window 1280 pixels wide without scrolling
// sideways.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image_map.h"

// What a compile knows of a sound, found again in the image by its kind and chip address
// (silence and mute, which have no address, by their kind and count of samples).
struct SoundNote {
  int32_t kind = 0;
  int64_t chipStart = 0;
  int64_t samples = 0;
  std::string name;
  std::string waveFile;
  std::vector<std::string> extra;  // one text per PageNotes::extraColumns
  int64_t bytes = 0;  // as stored, or as a refused file would take: for a failed compile's page
};

struct LinkNote {
  int32_t section = 0;
  std::string sound;  // the name the script links
};

struct ScriptWarning {
  int32_t line = 0;  // 0: the script as a whole
  std::string text;
  std::string sound;  // the sound it is about, by its name in the script; empty: none
  std::string badge;  // the badge its sound's card takes for it ("clipped", "hum", ...); empty: none
};

// A player the compile adds beside what the chip plays: the sound's source or its prepared
// samples, mono at their own rate, carried as a 16-bit WAV file.
struct PagePlayer {
  std::string what;      // "source", "prepared"
  std::string download;  // the name a download of it takes
  uint32_t rate = 0;
  std::vector<int32_t> samples;  // on the 16-bit scale; limited to it in the WAV file
  std::string levels;
  std::string missing;  // why there is nothing to play: then the player says so instead
};

struct PageNotes {
  std::string script;
  std::vector<SoundNote> sounds;
  std::vector<LinkNote> links;  // in script order; a section's links keep the order of its table
  std::vector<ScriptWarning> warnings;
  // Columns that a compile step adds to the sounds' rows, each a heading; every SoundNote holds
  // one text per column.
  std::vector<std::string> extraColumns;
  // The players a compile adds to a sound, asked for as its card is written so that the page
  // never holds more than one sound's takes; and the words for the levels of what the chip plays
  // (samples at a rate). Either may be empty.
  std::function<std::vector<PagePlayer>(const SoundNote&)> players;
  std::function<std::string(const std::vector<int32_t>&, double)> levels;
};

// The page. notes: null for an image read on its own.
std::string ImagePage(const std::vector<uint8_t>& image, const ImageMap& map,
                      const PageNotes* notes);

// A compile that wrote no image: the page headed FAILED with lines (its errors and the advice on
// fitting the part), a card per sound of notes with the compile's players, and the text of the
// failed compile's map. image: the output's name.
std::string FailedCompilePage(const std::string& image, const PageNotes& notes,
                              const std::vector<std::string>& lines, const std::string& mapText);

// Writes the page as path, built beside it and renamed when complete. DumpOk, or
// DumpPageFailed with *problem naming the file and the reason.
int WriteImagePage(const std::string& path, const std::string& page, std::string* problem);
