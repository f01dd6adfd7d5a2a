#pragma once
// The two name lists of a script: constants (.DEFINE) and sound definitions. Both are built in
// pass 1, read in both passes and listed newest first. Names are unique without regard to
// ASCII case; lookups are hashed so that scripts with ten thousand names stay linear.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct CompileState;

struct SoundDef {
  std::string name;  // as spelled in its definition
  std::string text;  // wave file path, or "Silence" / "Mute"
  int32_t kind = 0;
  int32_t start = 0;  // relative to the sound data area (SoundBase)
  int32_t end = 0;    // offset of the last byte: start + size - 1
  uint32_t frames = 0;  // samples the wave file announces (0 for Silence and Mute)
};

struct Constant {
  std::string name;
  int32_t value;
};

// Definition order is kept; listings walk it backwards to show the newest first.
struct NameTables {
  std::vector<Constant> constants;
  std::unordered_map<std::string, size_t> constantIndex;
  std::vector<std::unique_ptr<SoundDef>> sounds;
  std::unordered_map<std::string, SoundDef*> soundIndex;
};

int DefineConst(CompileState& s, const char* name, int32_t value);

// The constant's value; reports ErrConstUndefined on line and yields -1 when there is none.
int32_t LookupConst(CompileState& s, const char* name, int line);

// text is the script literal with its quotes for the wave kinds and empty for Silence and
// Mute; length is used only by those two, and one below 1 gives ErrSilenceLength. A refused
// sound stays defined, so that its $GROUPS lines are not reported as undefined as well.
int DefineSound(CompileState& s, const char* name, const char* text, int32_t kind, int32_t length);

const SoundDef* FindSound(CompileState& s, const char* name);

// Gives a wave sound of frames samples the next range of the sound data area.
void ReserveSoundRange(CompileState& s, SoundDef* sound, uint32_t frames);

// All sound definitions, newest first.
std::vector<const SoundDef*> SoundsNewestFirst(CompileState& s);

// Numeric text of a command-line parameter: "1Fh", "101b", "12d", "42", optionally quoted.
int ConvertNumber(const char* text, int32_t* value);

void FreeNames(CompileState& s);
