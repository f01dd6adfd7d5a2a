#pragma once
// What the designer is told about the sounds beyond the chip tools' listing: each wave file is
// measured once at the end of pass 1 (levels, clipping, silence at the ends and, when the map
// is asked for, what each codec would cost), the measures become warnings on standard error
// and columns of the map, and a compile whose sounds do not fit says by how much and what would.
// A prepared sound is measured twice: its source as recorded, and the samples the preparation
// made, at the rate they are stored; the warnings judge what the chip plays.
//
// A new per-sound figure is a field of SoundReport, filled where the sound is measured
// (MeasureSoundFile in sound_report.cpp, at the end of pass 1) or by whatever step knows it (as
// NoteCodecCosts does from pass 2's import), and a row of the column table in link_map.cpp that
// formats it.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/sound_measure.h"
#include "file_system.h"
#include "sound_pressure.h"

struct CompileState;
struct PreparationRecord;
struct MonoSource;
struct SoundDef;

struct SoundReport {
  std::string name;  // as defined
  int line = 0;      // of its definition
  int32_t kind = 0;
  bool measured = false;     // the wave file was read whole
  bool pending = false;      // to be measured as pass 2 imports it
  uint32_t fileRate = 0;
  int64_t samples = 0;
  // Of the samples as the import reads them (scaled by the script), or of a prepared sound's
  // file as recorded.
  SoundLevels levels;
  bool prepared = false;  // the preparation's samples were measured too
  uint32_t preparedRate = 0;
  SoundLevels preparedLevels;
  std::vector<CodecCost> costs;  // only when the map is asked for, and the sound was imported
  // A wave file refused in pass 1 reserves nothing, but its bytes still count in the space
  // budget: the designer mends it next and should not meet a larger overflow then.
  int64_t refusedBytes = 0;
  std::vector<SoundPressure> pressure;  // with --spl: at each rate the chip plays it at
};

struct SoundReports {
  bool codecCosts = false;  // --map: every codec is tried on every sound
  SplSettings spl;          // --spl, --spl-limit
  std::vector<SoundReport> sounds;  // in definition order
  std::vector<std::string> errors;  // as listed, for the map of a failed compile
  std::string budget;               // the over-by line, when the sounds do not fit
  // A plain compile measures each sound as pass 2 imports it rather than reading every file
  // once more at the end of pass 1. What goes to standard error from then on is held here, so
  // that the warnings about the levels still come first, as they did when pass 1 measured.
  HeldText held;
  FILE* err = nullptr;  // standard error itself while its text is held
  size_t heldFrom = 0;  // the warnings given before it was held, which the levels' follow
};

// End of pass 1, after the preparation: measures every wave file the script defines, refused
// or not, and what the preparation made of it, and warns about clipped sources, long silence
// at either end and levels far from the others.
void MeasureSounds(CompileState& s);

// The warnings and the levels of the sounds left to pass 2: those the import did not meter
// (pass 2 stopped, or never ran) are read from their files, the warnings are given, and what
// was held back from standard error follows them. Nothing when nothing was left.
void SettleSoundMeasures(CompileState& s);

// The report whose levels pass 2's import is to take, or null.
SoundReport* PendingReport(CompileState& s, const std::string& name);

// The levels the import metered, when it read every one of frames samples.
void KeepImportedLevels(SoundReport* report, const LevelMeter& levels, int64_t frames, uint32_t rate);

// The levels the chip plays and the rate of their samples: the prepared ones when there are.
const SoundLevels& PlayedLevels(const SoundReport& report);
uint32_t PlayedSampleRate(const SoundReport& report);

// Levels in a line of words, as the page shows them: "peak -6.0, RMS -9.0 dBFS, 0 clipped,
// silent 500 ms at the start, 0 ms at the end".
std::string LevelsSummary(const SoundLevels& levels, uint32_t rate);

// A failed compile's map: what every codec would cost each sound that pass 2 did not import
// (it overflowed, or pass 2 never ran), read from its file or its prepared samples.
void CostUnimportedSounds(CompileState& s);

// A prepared sound's samples as the encoder takes them (dithered, with --dither) and their rate;
// no samples when there are more than maxFrames. False when the sound was not prepared or its
// samples cannot be read back.
bool ReadPreparedSound(const CompileState& s, const std::string& name, int64_t maxFrames, MonoSource* sound);

// Pass 2, with the map asked for: what every codec would cost the sound just imported.
void NoteCodecCosts(CompileState& s, const std::string& name, const CodecMeter& codecs);

// A failed compile: when the sounds do not fit the part, warns once with the bytes over, the
// smallest part that holds them and a rate or codec change that fits the part asked for.
void WarnSpaceBudget(CompileState& s);

// OTP bytes that samples samples of a kind take; 0 for a kind outside 1..7.
int64_t KindBytesOf(int32_t kind, int64_t samples);

// The preparation's record of a sound it prepared, or null (not prepared, or refused).
const PreparationRecord* PreparedRecord(const CompileState& s, const std::string& name);

// The median of values, of which there is at least one.
double Median(std::vector<double> values);

// The report of a sound, or null when it was not measured.
const SoundReport* FindSoundReport(const CompileState& s, const std::string& name);

// The bytes a sound takes in the image, or would take once its refused file is accepted.
int64_t SoundBytesTaken(const CompileState& s, const SoundDef& def);

// Chip address of the sound data area as the section tables place it; also for a compile that
// stopped before pass 2 set SoundBase.
int32_t SoundAreaBase(const CompileState& s);

// The bytes the part has for sounds: from the sound data area to the system area.
int64_t SoundRoom(const CompileState& s);

// A prepared sound's samples, read where the preparation left them, through the level meter
// and, when given, the codec meter. False when they cannot be read back.
bool MeterPreparedSamples(const CompileState& s, const PreparationRecord& record, LevelMeter* levels,
                          CodecMeter* codecs = nullptr);

// Bytes every sound takes: those placed in pass 1 and those whose file was refused.
int64_t SoundBytesNeeded(const CompileState& s);
