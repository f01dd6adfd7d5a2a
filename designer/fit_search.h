#pragma once
// The search for --fit's best mix over every codec at every rate each sound may take
// (fit_rates.h), without measuring them all: every sound is first measured at its own rate,
// which also gives its spectrum (the reference), and as the script stores it now; an option not
// measured counts at the most it
// could measure (fit_estimate.h); the choice (fit_choice.h) is made on those figures, every
// option it takes that was not measured is measured, and the choice is made again, until it
// takes only measured options. No option left out could then do better: its most is already
// below what the choice has, so the choice is the one every option measured would give.
//
// The measures of a round run side by side, one sound to a worker, and are taken in the order
// of the sounds, so that the choice does not depend on which worker finished first. At a
// searching ADPCM level (2 or 3) a rate is first measured at the greedy level, which is cheap,
// and at the level asked for only where the choice takes its ADPCM option.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fit_choice.h"
#include "fit_measure.h"

class SoundSpectrum;

struct FitJob {
  size_t sound = 0;
  int32_t played = 0;
  int adpcmLevel = 0;
  bool reference = false;  // the first measure at the sound's own rate, which feeds its spectrum
};

// Measures one job on a worker's own scratch files; with spectrum (for the reference), feeds it.
using FitMeasurer =
    std::function<bool(size_t worker, const FitJob& job, SoundSpectrum* spectrum, RateMeasure* out, std::string* reason)>;

struct FitSearchStats {
  int rounds = 0;
  int measures = 0;       // the references too
  int adpcmMeasures = 0;  // at a searching level, apart from the greedy measures
};

struct FitSearchResult {
  std::string unprepared;        // a sound that cannot be prepared, with the reason: nothing chosen
  std::vector<FitSound> sounds;  // every option measured, each sound's before too
  FitChoice choice;
  FitSearchStats stats;
};

FitSearchResult SearchFit(const std::vector<FitCandidates>& candidates, int64_t room, size_t workers,
                          const FitMeasurer& measure);
