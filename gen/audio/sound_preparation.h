#pragma once
// Preparing a recording for the chip: any file libsndfile reads is mixed to mono, high-passed,
// trimmed, resampled to the rate the chip plays it at, set to a loudness, peak-limited,
// dithered and stored as the 16-bit samples the encoders take. The steps always run in that order, a block at a
// time, so that a ten-minute take costs no more memory than a short one.
//
// The same inputs and options give the same samples on every machine: the resampler runs its
// plain double-precision engine (never the one it would pick for the processor at hand),
// everything the math library computes (filter coefficients, thresholds, gains) is rounded to
// a fixed grid before use, the resampled signal is kept as integers, the gain is applied in
// integer arithmetic, and the dither comes from a fixed-seed generator of our own.

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "audio/sound_measure.h"

struct PreparationOptions {
  bool resample = false;  // --resample
  bool loudness = false;  // --loudness LUFS
  double loudnessLufs = 0;
  bool trim = false;      // --trim DBFS[:HOLD], or peak-DB[:HOLD]
  double trimDbfs = 0;
  bool trimFromPeak = false;  // trimDbfs is a level under the sound's own peak
  int trimHoldMs = 20;    // how long a stretch stays above the level to count as sound
  bool highpass = false;  // --highpass HZ[:ORDER]
  double highpassHz = 0;
  int highpassOrder = 4;
  bool limit = false;     // --limit DBFS
  double limitDbfs = 0;
  bool dither = false;    // --dither
  std::string keepDir;    // --keep-prepared DIR
  double gainDb = 0;      // a sound's own gain: on top of the loudness target, or of its level
  bool perSound = false;  // some sound has settings of its own (a project's [sound.NAME])

  // Any option given: every wave sound then goes through the preparation.
  bool Active() const {
    return resample || loudness || trim || highpass || limit || dither || !keepDir.empty() || perSound;
  }
  // The loudness the gain aims at: the target moved by the sound's own gain.
  double TargetLufs() const { return loudnessLufs + gainDb; }
};

// The option texts as the command line gave them (empty: not given).
struct PreparationTexts {
  std::string loudness, trim, highpass, limit;
};

// Checks the numbers and their ranges; false with error saying which value and what it may be.
bool ParsePreparationValues(const PreparationTexts& texts, PreparationOptions* options,
                            std::string* error);

// The integrated loudness (ITU-R BS.1770, libebur128) of samples on the 16-bit scale at rate,
// in LUFS, rounded to hundredths; false when there is no gated block to measure.
bool MeasureLoudness(const std::vector<int32_t>& samples, int32_t rate, double* lufs);

// The trim's level as the option gives it: "-50 dBFS", or "peak-40" for one under the peak.
std::string TrimLevelText(const PreparationOptions& options);

// One sound's own settings over the defaults (a project's [sound.NAME]): the texts as the
// command line writes them, "off" for a step the sound goes without.
struct SoundSettings {
  std::string name;       // as the project writes it
  std::string where;      // "FILE:LINE" of its section, for messages
  PreparationTexts texts;
  int dither = -1;        // 0 or 1; -1: the default's
  double gainDb = 0;      // -40 to 40
  int adpcmQuality = -1;  // -1: the default's

  bool Prepares() const {
    return !texts.loudness.empty() || !texts.trim.empty() || !texts.highpass.empty() || !texts.limit.empty() ||
           dither >= 0 || gainDb != 0;
  }
};

// The range of a sound's own gain in dB.
constexpr double kSoundGainLimitDb = 40;

// The defaults with a sound's own settings applied; false with error as ParsePreparationValues.
bool ApplySoundSettings(const SoundSettings& own, PreparationOptions* options, std::string* error);

// What a source file is, as libsndfile tells it.
struct SourceInfo {
  std::string format;  // "WAV 24-bit", "FLAC 16-bit", "AIFF float", ...
  int32_t rate = 0;
  int32_t channels = 0;
  int64_t frames = 0;
};

// True when libsndfile can read the file; otherwise false with its reason.
bool ProbeSource(const std::string& path, SourceInfo* info, std::string* reason);

// The source's levels as the recording holds them, before any step: its frames on the 16-bit
// scale (a float file's values above full scale stay above it), the channels mixed as the
// preparation mixes them for the RMS, the loudest channel for the peak, clipping and silence.
// False with libsndfile's reason when it cannot be read.
bool MeterSource(const std::string& path, LevelMeter* meter, std::string* reason);

// A source as the page plays it: its channels mixed as the preparation mixes them, on the
// 16-bit scale (a float file's values above full scale stay above it), at its own rate.
struct MonoSource {
  int32_t rate = 0;
  int64_t frames = 0;            // as the file holds them
  std::vector<int32_t> samples;  // empty when frames exceeds the most asked for
};

// False with libsndfile's reason when the file cannot be read.
bool ReadSourceMono(const std::string& path, int64_t maxFrames, MonoSource* mono, std::string* reason);

// A note on what a step did to a sound; clipped: samples were cut at full scale.
struct PreparationNote {
  std::string text;
  bool clipped = false;
};

// What the preparation of one sound did: the map's columns.
struct PreparationRecord {
  std::string file;
  SourceInfo source;
  std::vector<int32_t> linkRates;  // asked for, in the order of their first link
  int32_t playedRate = 0;          // the rate of the prepared samples
  double gainDb = 0;
  bool measured = false;           // loudness could be measured (0.4 s and above the gate)
  double loudnessBefore = 0;       // LUFS, of the resampled signal
  double loudnessAfter = 0;        // LUFS, of the prepared 16-bit signal
  bool ceilingReached = false;     // the peak ceiling kept the gain below the target's
  double reachLufs = 0;            // the loudest it can be under the ceiling (when measured)
  double limitedDb = 0;            // the limiter's deepest gain reduction (with --limit)
  double bandLossDb = 0;           // of its A-weighted power, what the resampler dropped above half its rate
  double peakDbfs = 0;             // of the prepared signal
  int64_t trimmedMs = 0;
  bool lossless = false;           // the codec gives back every sample (PCM16)
  double snrDb = 0;                // of the encoded sound decoded as the chip plays it
  std::string refusal;             // why it cannot be prepared, for pass 2 to report
  bool cutShort = false;           // refused as a file cut short: a read error, as unprepared
  int64_t offset = 0;              // of the prepared samples in the prepared file
  uint32_t frames = 0;
  // What the designer should hear about the preparation (a step that clipped, a mix that
  // cancels, a rumble the filter left), each to follow "sound NAME (FILE): ".
  std::vector<PreparationNote> notes;
  // Levels taken while the steps read and wrote, so that the checks read no file again: the
  // source's as MeterSource gives them (once a pass read it whole), the prepared samples' as
  // the import reads them back (once they were all written).
  bool sourceMetered = false;
  LevelMeter sourceLevels;
  bool preparedMetered = false;
  LevelMeter preparedLevels;
};

// The request for one sound: its kind decides the dither and the codec of the SNR.
struct PreparationJob {
  const PreparationOptions* options;
  std::string file;
  int32_t kind;
  int32_t rate;         // to resample to; 0 keeps the file's own rate
  double scale;         // the script's scale factor, applied before the 16-bit rounding
  std::string keepPath; // empty: no listening copy
  int adpcmQuality;     // the search the image's ADPCM encoder makes, for the SNR
};

// Scratch space the preparation writes: stage holds one sound's resampled signal at a time,
// prepared the 16-bit samples of every sound one after another.
struct PreparationFiles {
  FILE* stage = nullptr;
  FILE* prepared = nullptr;
};

// Runs the steps for one sound and appends its samples to files.prepared at record->offset.
// False with a reason that needs no file name around it (the caller names sound and file):
// a file libsndfile cannot read, a value out of range for this sound, all silence, a trim that
// leaves nothing, or a scratch file that cannot be written.
bool PrepareSound(const PreparationJob& job, const PreparationFiles& files,
                  PreparationRecord* record, std::string* reason);

// The map's columns of a prepared sound, after its line in the sound list.
std::string PreparationMapColumns(const PreparationRecord& record);

// The same figures as cells of the page's sound rows, under these headings.
extern const std::vector<std::string> kPreparationHeadings;
std::vector<std::string> PreparationCells(const PreparationRecord& record);

// What a compile keeps of the preparation: the options, the settings of sounds that have their
// own, a record per sound (by lower-case name), and the scratch files, which live until the compile ends.
struct PreparationState {
  PreparationOptions options;
  std::unordered_map<std::string, SoundSettings> own;  // by lower-case name
  std::unordered_map<std::string, PreparationRecord> records;
  PreparationFiles files;
  std::string stageName, preparedName;  // when the files got names, to remove them
};
