#pragma once
// Every distinct sound of an image back to a WAV file, decoded as the chip plays it: ADPCM
// from predictor 0 and step index 0 with the step table stored in the image, u-law with the
// stored expansion table, PCM8 and PCM16 as stored, silence and mute as their count of
// zeros, at the rate the divider of the first link that names the sound gives. EQ01 ranges
// are not extracted: no part of the system writes or reads their codes.

#include <cstdint>
#include <string>
#include <vector>

#include "image_map.h"
#include "output_writer.h"

bool CanExtract(const Sound& sound);

// "hello.wav" for a sound the script's names name (sound_names.h); otherwise
// "001_adpcm_000038.wav": the sound's number, kind and file position (silences: their start
// field) so that names stay apart and sort in the order of the map.
std::string WavName(const Sound& sound);

// The samples the chip plays from the sound, on the 16-bit scale.
std::vector<int32_t> DecodeSound(const std::vector<uint8_t>& image, const ImageMap& map,
                                 const Sound& sound);

// The WAV file --extract writes for a sound, byte for byte, from its DecodeSound samples: the
// page plays these same bytes.
std::vector<uint8_t> ExtractedWavBytes(const ImageMap& map, const Sound& sound,
                                       const std::vector<int32_t>& decoded);

// DumpOk, or DumpWriteFailed with *problem when a name ExtractSounds would write in dir is a
// file of the run (the image read, the page written): the same file, also through a link, or
// a name another output takes. A WAV file renamed onto the image's own name would take its
// place, and a link to the image among the sounds' names is the same mistake one step removed.
// Asked before anything is written.
int RefuseExtractingOver(const RunFiles& files, const ImageMap& map, const std::string& dir,
                         std::string* problem);

// Writes the WAV files into dir (created when missing) and appends one line per sound to
// *listing. Each file is built beside its name and renamed onto it, so that a link already
// there is replaced rather than followed out of dir. DumpOk, or DumpWriteFailed with *problem.
int ExtractSounds(const std::vector<uint8_t>& image, const ImageMap& map, const std::string& dir,
                  std::string* listing, std::string* problem);
