#pragma once
// What --fit measures of a sound, for real: the sound prepared for one rate as NEW.qs's compile
// would prepare it (its own settings over the defaults, as PCM16 so that neither dither nor the
// preparation's own encoder runs), its power before the loudness gain, and every codec the chip
// decodes tried on it as the map's codec trial tries them, played back by the chip's decoders.
// ADPCM is tried at the level asked for: the sound's own (a project's) or the compile's
// --adpcm-quality, or level 0 where only a bound is wanted (fit_estimate.h).
//
// The SNR of an option is against the source, not against the samples it was resampled to: a
// rate below the source's loses the band above its half, and that loss counts as noise. The
// noise is the codec's error on the resampled samples plus the power the resampler took away
// (the power of the sound prepared at its own rate less that of the sound prepared at the rate,
// each without the loudness gain); the two lie in different bands, so their powers add as they
// would in the difference between the source and the played sound brought back to the source's
// rate. A sound the chip plays exactly gets kLosslessDb, the floor of the 16-bit source
// itself, so that a total of SNRs stays finite.
//
// A measure reads and writes only what it is given: measures of different sounds may run side
// by side, each with scratch files of its own.

#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "audio/sound_measure.h"
#include "audio/sound_preparation.h"
#include "fit_choice.h"
#include "fit_rates.h"

class SoundSpectrum;
struct CompileState;

inline constexpr double kLosslessDb = 98.0;
inline constexpr size_t kFitCodecs = std::size(kComparedCodecs);

// What a sound needs to be prepared again, away from the compile that read it.
struct FitTake {
  std::string name;
  std::string file;
  PreparationOptions options;  // its own settings over the defaults
  double scale = 1;            // the script's $SCALING
  int32_t sourceRate = 0;
  int adpcmQuality = 0;        // the level NEW.qs is compiled with
};

struct RateMeasure {
  int32_t played = 0;   // the rate prepared for; the source's own for the reference
  int64_t frames = 0;
  double powerDb = 0;   // dBFS before the loudness gain
  int adpcmLevel = 0;   // the search the ADPCM figure comes from
  double codecDb[kFitCodecs] = {};  // kComparedCodecs' order, against the prepared samples; +inf exact
  double greedyAdpcmDb = 0;  // ADPCM at level 0 beside a search's (levels 2 and 3), or level 0's own
};

// played 0: the source's own rate. With spectrum, the prepared samples are fed to it too.
// False with the preparation's reason.
bool MeasureRate(const FitTake& take, int32_t played, int adpcmLevel, const PreparationFiles& files,
                 SoundSpectrum* spectrum, RateMeasure* out, std::string* reason);

// Scratch files for measures that run side by side: a stage and a prepared file per worker,
// beside a file of the run (the image), removed when it goes. A measure appends its samples to
// the prepared file; Trim starts a worker's over once it has grown past a few sounds' worth (a worker
// may trim its own while others measure).
class FitScratch {
 public:
  FitScratch() = default;
  FitScratch(const FitScratch&) = delete;
  FitScratch& operator=(const FitScratch&) = delete;
  ~FitScratch();

  bool Open(const std::string& beside, size_t workers, std::string* reason);
  bool Trim(size_t worker, std::string* reason);
  size_t Workers() const { return workers_.size(); }
  const PreparationFiles& Files(size_t worker) const { return workers_[worker].files; }

 private:
  struct Worker {
    PreparationFiles files;
    std::string stageName, preparedName;
  };
  bool OpenWorker(Worker* w, std::string* reason);
  static void Close(Worker* w);

  std::string beside_;
  std::vector<Worker> workers_;
};

// The share of the power the resampler took: of the measure at a rate against the reference.
double LostShare(double powerDb, double referenceDb);

// Against the source: a codec's SNR on the prepared samples with the share lost beside it.
double AgainstSource(double codecSnrDb, double lostShare);

// The column of kComparedCodecs that holds kind.
size_t CodecColumn(int32_t kind);

// One sound as --fit sees it: what it may take and how to measure it.
struct FitCandidates {
  FitSound sound;              // its name, how it is stored now and whether it is judged
  FitTake take;                // how to prepare it again
  std::vector<FitRate> rates;  // what it may take; link 0 where its rate is kept
};

// Every sound that takes bytes, in definition order, from the compile that read the script
// (pass 1, with --resample, its sounds probed and not prepared): which sounds may change and how (fit_rates.h; a sound linked at
// several rates, or not linked, keeps its rate and only its codec is chosen), and how each is
// stored now. A sound that cannot change (a ramp, a kind without codecs, a sound that was not
// prepared) is not judged and keeps its one way.
std::vector<FitCandidates> FitCandidatesOf(CompileState& read);
