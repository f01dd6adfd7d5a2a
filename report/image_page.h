#pragma once
// The image as one self-contained HTML page: the part drawn to scale, the sections and their
// links, one row per distinct sound with its waveform and a player of exactly the WAV file
// --extract writes for it, the option or configuration block, the volume map and the verdict
// on the system area as the text report gives them, the image's size and SHA-256. Nothing is
// loaded from anywhere: no network, no file beside it; it reads without JavaScript (a small
// inline script only adds the details of the block under the pointer) and prints on paper.
//
// qs71dump writes it from the image alone; qs71gen adds what only the compile knows.

#include <cstdint>
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
};

struct LinkNote {
  int32_t section = 0;
  std::string sound;  // the name the script links
};

struct ScriptWarning {
  int32_t line = 0;  // 0: the script as a whole
  std::string text;
};

struct PageNotes {
  std::string script;
  std::vector<SoundNote> sounds;
  std::vector<LinkNote> links;  // in script order; a section's links keep the order of its table
  std::vector<ScriptWarning> warnings;
  // Columns that a compile step adds to the sounds' rows, each a heading; every SoundNote holds
  // one text per column.
  std::vector<std::string> extraColumns;
};

// The page. notes: null for an image read on its own.
std::string ImagePage(const std::vector<uint8_t>& image, const ImageMap& map,
                      const PageNotes* notes);

// Writes the page as path, built beside it and renamed when complete. DumpOk, or
// DumpPageFailed with *problem naming the file and the reason.
int WriteImagePage(const std::string& path, const std::string& page, std::string* problem);
