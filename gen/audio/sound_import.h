#pragma once
// Pass 2 of a sound statement: find the definition pass 1 made, record a ramp sound's place in
// the header, keep the sound out of the system area, and stream its wave file's samples
// through the encoder of its kind into the image.

#include <cstdint>
#include <string>

#include "audio/sound_preparation.h"
#include "audio/wave_input.h"

struct CompileState;

struct SoundDef;

// 0 or a result code: ErrInternal (unknown name, ramp sound not PCM16, kind outside 1..7,
// samples not filling the range), ErrRampRate, ErrFileOpen, ErrWaveFile, ErrRead,
// ErrSystemArea, or the image writer's code. The wave file is closed on every path. The
// sound's listing lines (a ramp's place, the samples written, a sound that reaches the system
// area) are appended to *listing, for the caller to print before it reports the code.
int ImportSound(CompileState& s, const char* name, std::string* listing);

// Whether the chip finds the sound through the header (RampDec, RampInc) rather than a link.
bool IsRampSound(const char* name);

// The header word of a ramp sound: its file position in bits 31..8 (bits above 23 are lost)
// and the clock divider minus one in bits 7..0. ErrRampRate when Ramp_Rate cannot divide.
int RampWord(CompileState& s, int32_t position, uint32_t* word);

// Pass 1 of a sound to be prepared: reads what its file is, or ErrWaveFile with a detail that
// names sound and file and gives libsndfile's reason. Lists its rate as a wave file's.
int DefinePreparedSound(CompileState& s, const SoundDef& sound, std::string* listing);

// Pass 1 of a link: the rates a prepared sound is asked to play at.
void NotePreparedLink(CompileState& s, const char* name, int32_t rate);

// The end of pass 1, for each sound in definition order (line: its definition): prepares it
// at the rate its links settled and reserves its range. ErrWaveFile with a detail naming
// sound and file when it cannot be prepared; warns when its loudness stays below the target.
int PrepareDefinedSound(CompileState& s, const char* name, int line);

// Once every sound is prepared for --loudness without --limit: when the peak ceiling held some
// below the target, the highest loudness every sound reaches, as advice on standard error.
void AdviseLoudnessReach(CompileState& s);

// The search of a sound's ADPCM encoder: its own (a project's [sound.NAME]), or everyone's.
int AdpcmQualityOf(CompileState& s, const std::string& name);

// The preparation a sound is given: the defaults with its own settings over them.
PreparationOptions SoundPreparationOptions(CompileState& s, const std::string& name);

// The compile's ADPCM level and the sounds' own where they differ: "0 (chime: 3)".
std::string AdpcmQualityLevels(CompileState& s);

// Closes and removes the preparation's scratch files.
void ReleasePreparation(CompileState& s);

// Opens the sound's wave file into s.Wave (left open, also on failure) and reads its
// header: the rate message added to *listing, a refusal's detail kept for the error report.
int OpenSoundWave(CompileState& s, const SoundDef& sound, WaveHeader* header, std::string* listing);
