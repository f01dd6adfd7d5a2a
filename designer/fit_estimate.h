#pragma once
// What --fit can say of a sound at a rate it has not measured: the most its SNR against the
// source could be, from the rates it has measured (fit_measure.h) and the power spectrum of the
// sound at its own rate (fit_spectrum.h). The choice treats an unmeasured option as that most,
// so an option is left out only where even its most could not change the choice (fit_search.h).
//
// The band a rate drops is estimated from the spectrum through the resampler's response: within
// 3 % of the estimate, 3 % of the power in the response's transition and 2e-5 of the whole. Each
// codec's error follows a model of its own, set by the rates measured: ADPCM's the power of the
// first difference (its step follows the change from sample to sample), PCM8's the power kept
// (its step is fixed), u-law's nothing (its step follows the level). Between two measured rates
// the model's offset from the measures is taken on a straight line in octaves, and may be off by
// the codec's own spread plus the difference of the two offsets; beyond the last rate measured,
// also by a spread an octave. These spreads were measured on speech, tones, sweeps, noise, a
// square wave and a quiet tone at every rate (fit_estimate_test.cpp holds them to that).
//
// A tonal sound (a beep, a square wave) gets six times the spreads: its codecs' errors depend
// on how its few sample values fall at each rate; at a rate whose period of the tone is a few
// whole samples (a 1000 Hz beep at 4000 Hz takes four values), its codecs are not modelled at all.
//
// ADPCM at a searching level (2 or 3) is dear to measure: its bound is the greedy level's (every
// measure takes that too) raised by what the search gains over it, taken between the rates
// measured at the search's level as the offsets are; before any is, by the most a search has
// been seen to gain. A bright sound that overloads the greedy encoder's steps (harmonics falling
// only 6 dB an octave up to 5 kHz) may gain more from a search at some rates than this allows.

#include <cstdint>
#include <map>
#include <vector>

#include "fit_measure.h"
#include "fit_spectrum.h"

class FitModel {
 public:
  FitModel(SoundSpectrum spectrum, const RateMeasure& reference, int adpcmQuality);

  void Add(const RateMeasure& measure);

  // The measure at played taken at the ADPCM level the sound is compiled with, if any.
  const RateMeasure* Measured(int32_t played) const;
  // Any measure at played, the greedy level's too.
  const RateMeasure* MeasuredAtAnyLevel(int32_t played) const;

  // The SNR against the source of a codec (a column of kComparedCodecs) at played: measured,
  // or the most it could measure.
  double SnrDb(size_t codec, int32_t played, bool* measured) const;

  double ReferenceDb() const { return reference_.powerDb; }
  int AdpcmQuality() const { return quality_; }

  // A codec's error at a measured rate against its model's, in dB, by the rate's octave.
  struct Anchor {
    double octave;  // log2 of the rate played
    double offsetDb;
  };

 private:
  double ModelNoise(size_t codec, const SoundSpectrum::AtRate& at) const;
  std::vector<Anchor> Anchors(size_t codec, int level) const;
  double MostSnrDb(size_t codec, int32_t played) const;
  std::vector<Anchor> SearchGains() const;
  double MostSearchGainDb(double octave, double greedyDb) const;
  bool InStepWithTone(int32_t played) const;
  const SoundSpectrum::AtRate& At(int32_t played) const;

  SoundSpectrum spectrum_;
  RateMeasure reference_;
  int quality_;
  double spreads_;  // how many times the codecs' spreads this sound's figures may stray
  double toneHz_;   // its strongest tone, which a tonal sound's figures follow
  std::vector<RateMeasure> measures_;  // the reference first
  mutable std::map<int32_t, SoundSpectrum::AtRate> at_;  // the spectrum's figures, by rate played
};

// The SNR against the source of a codec in a measure.
double MeasuredSnrDb(const RateMeasure& measure, size_t codec, double referenceDb);
