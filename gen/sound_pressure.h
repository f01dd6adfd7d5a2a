#pragma once
// How loud the finished toy will be (--spl DB): the designer measures once, with a meter at the
// distance the toy's standard names, the sound-pressure level the toy makes for a full-scale
// 1 kHz sine (DB, its RMS, 3.01 dB below full scale). Each sound the image stores is then
// decoded as the chip plays it, at the rate of each link, and weighted as a meter weights it
// (audio/spl_weighting.h), so that for each sound:
//
//   LAeq   = DB + 3.01 + (A-weighted RMS over the whole sound, in dBFS)
//   LCpeak = DB + 3.01 + (C-weighted peak, between samples too, in dBFS)
//
// The sine itself reads LAeq = DB and LCpeak = DB + 3.01, its peak pressure. The prediction
// takes the toy's loudspeaker and case as linear and as flat as they are at 1 kHz.
// --spl-limit LAEQ[:LCPEAK] warns about every sound above either level; qs71gen sets none of
// its own, as the limits belong to the standard that applies to the toy.

#include <cstdint>
#include <string>
#include <vector>

struct CompileState;
struct SoundReport;

struct SplSettings {
  bool given = false;
  double referenceDb = 0.0;  // --spl
  bool laeqLimit = false;
  double laeqLimitDb = 0.0;
  bool lcpeakLimit = false;
  double lcpeakLimitDb = 0.0;
};

// A sound's predicted levels in the toy at one rate the chip plays it at.
struct SoundPressure {
  int32_t playedHz = 0;
  double laeqDb = 0.0;    // -infinity for silence
  double lcpeakDb = 0.0;
};

// Reads --spl and --spl-limit (empty: not given); false with *error saying what is expected.
bool ParseSplSettings(const std::string& spl, const std::string& limit, SplSettings* settings, std::string* error);

// With --spl: a sound's levels in the toy at the rate of one of its links' dividers, from what
// the chip plays of it (played_sound_checks.h reads it back), kept in its report, with a
// warning for each limit it is above.
void PredictSoundPressure(CompileState& s, const std::vector<int32_t>& played, uint8_t divider, SoundReport* report);

// The map's table of the levels; empty without --spl or without a sound measured.
std::string SoundPressureMapPart(const CompileState& s);

// A sound's levels for the page: "78.1" or, linked at several rates, "78.1 at 8000 Hz, 80.3 at
// 16000 Hz"; empty when not measured. peak: LCpeak rather than LAeq.
std::string SoundPressureCell(const std::vector<SoundPressure>& levels, bool peak);
