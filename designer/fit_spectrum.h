#pragma once
// The power spectrum of a prepared sound at its own rate, averaged over the whole sound (4096-
// sample sine windows, each half a window after the last, with silence around the sound), and
// what it says of the sound at a lower rate: the share of its power the resampler keeps, the
// share that lies where the resampler's response is not flat (how far the first share may be
// off), and the power of the first difference of the samples, which an ADPCM encoder's error
// follows.
//
// The resampler's response is libsoxr's at very high quality, as the preparation runs it, in
// fractions of the lower rate's half: flat to 0.70, within 0.2 % of flat to 0.92, half power at
// 0.95 and nothing from 0.99 up, alike at every ratio of rates (within 2 % of the table).
// The sound is fed in blocks and held in no more than a window.

#include <cstddef>
#include <cstdint>
#include <vector>

class SoundSpectrum {
 public:
  static constexpr size_t kWindowFrames = 4096;

  explicit SoundSpectrum(int32_t rate);

  void Add(const int32_t* samples, size_t n);
  void Finish();  // after the last samples

  // Shares of the whole power (0 when the sound is silent), at a rate at most the sound's own.
  struct AtRate {
    double kept = 1;        // what the resampler keeps
    double uncertain = 0;   // where it keeps between 0.2 % less and all, or anywhere in its transition
    double difference = 0;  // the power of x[n] - x[n-1] of what is kept
  };
  AtRate At(int32_t played) const;

  // The share of the power in the strongest bins: near 1 for a tone or a few, where a codec's
  // error depends on how the few sample values fall and tells little from one rate to the next.
  double Tonality() const;
  // The frequency of the strongest tone, between bins (0 for silence).
  double StrongestHz() const;

  int32_t rate() const { return rate_; }
  bool silent() const { return total_ <= 0; }

 private:
  void Window();

  int32_t rate_;
  std::vector<double> taper_;    // the window
  std::vector<double> pending_;  // samples of the window being filled
  std::vector<double> power_;    // summed over windows, per bin 0..N/2
  double total_ = 0;
};
