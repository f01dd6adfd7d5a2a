#pragma once
// The linker-style map of an image (--map FILE): every sound with its file, samples, playing
// time at each rate it is linked at, chip address range and size; every section with its
// links and the rate the chip plays each at; each sound's levels, clipping and silence at its
// ends, and with the map asked for what each codec would cost it; how much of the part is used
// and free; the image's size and SHA-256, the fingerprint that qs71dump and qs71prog print for
// the same file. A failed compile gets a map too, headed FAILED with its errors, so that the
// designer sees where the bytes went: every sound with what each codec would cost it, every
// section with its links as the script gave them, also when pass 2 never ran.

#include <cstdint>
#include <string>

struct CompileState;

// A group link as pass 2 wrote it.
struct LinkRecord {
  int32_t section;
  std::string sound;
  int32_t rate;
  int32_t flag;
};

// Pass 2 notes each group link as it is written, in script order.
void MapLink(CompileState& s, int32_t section, const char* sound, int32_t rate, int32_t flag);

// Pass 1 notes each group link it counts, for the map of a compile that never reaches pass 2.
void NoteScriptLink(CompileState& s, int32_t section, const char* sound, int32_t rate, int32_t flag);

// Writes the map of the finished image. 0, or 1 (reason on standard error) when the file
// cannot be written.
int WriteImageMap(CompileState& s, const std::string& path);

// Writes the map of a failed compile. 0, or 1 (reason on standard error); the run fails either way.
int WriteFailedMap(CompileState& s, const std::string& path);

std::string FailedMapText(CompileState& s);

// The bytes between the end of the sound data and the system area, as the map's space part
// gives them; below 0 by as much as the sounds are over.
int64_t FreeSoundBytes(const CompileState& s);

// Formats the map; sha256 is the image's digest, or empty when it cannot be read back.
std::string ImageMapText(CompileState& s, const std::string& sha256, int64_t imageSize);

