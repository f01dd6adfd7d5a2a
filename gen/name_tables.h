#pragma once
// The two name lists of a script: constants (.DEFINE) and sound definitions. Both are built in
// pass 1, read in both passes and listed newest first. Names are unique without regard to
// ASCII case; lookups are hashed so that scripts with ten thousand names stay linear.

#include <cstdint>
#include <string>
#include <vector>

struct SoundDef {
  std::string name;  // as spelled in its definition
  std::string text;  // wave file path, or "Silence" / "Mute"
  int32_t kind = 0;
  int32_t start = 0;  // relative to the sound data area (SoundBase)
  int32_t end = 0;    // offset of the last byte: start + size - 1
  uint32_t frames = 0;  // samples the wave file announces (0 for Silence and Mute)
};

int DefineConst(const char* name, int32_t value);

// The constant's value; reports ErrConstUndefined on line and yields -1 when there is none.
int32_t LookupConst(const char* name, int line);

// text is the script literal with its quotes for the wave kinds and empty for Silence and
// Mute; length is used only by those two, and one below 1 gives ErrSilenceLength. A refused
// sound stays defined, so that its $GROUPS lines are not reported as undefined as well.
int DefineSound(const char* name, const char* text, int32_t kind, int32_t length);

const SoundDef* FindSound(const char* name);

// All sound definitions, newest first.
std::vector<const SoundDef*> SoundsNewestFirst();

// Numeric text of a command-line parameter: "1Fh", "101b", "12d", "42", optionally quoted.
int ConvertNumber(const char* text, int32_t* value);

void FreeNames();
