#pragma once
// The script's names for an image's sounds (qs71dump --names), so that --extract writes
// hello.wav rather than 001_adpcm_000038.wav. The image holds no names; the file that made it
// does: qs71gen's map of the image, or the script itself. Either gives, for each section, the
// names of its links in order, and the image gives, for each section, the sounds its links
// lead to in the same order: the n-th link of section k names the sound that the n-th link of
// section k in the image plays. Nothing of the generator is used to read them: the script is
// read only for its sound definitions, its defines and its $GROUPS lines.
//
// A map is taken only for the image it was written with (its SHA-256); a section whose links
// the file does not give as the image holds them (a section number qs71dump cannot work out, a
// script changed since) leaves its sounds their positions' names, with a warning.

#include <string>
#include <vector>

#include "image_map.h"

// The names of file (a map or a script, told apart by the map's first line) put into the
// sounds of map (Sound::name). DumpOk, or DumpNamesFailed with *problem; what could not be
// named is said in *warnings, one line each.
int TakeSoundNames(const std::string& file, const std::string& text, ImageMap* map, std::string* warnings,
                   std::string* problem);
