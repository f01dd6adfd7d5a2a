#pragma once
// A sound's samples for its encoder, block by block. The ADPCM encoder has to run sample after
// sample, each code depending on the last, so a long sound's reading, converting and level
// metering run on a thread of their own, a block ahead of it, on the second core.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/sound_measure.h"
#include "audio/wave_input.h"

class SampleBlocks {
 public:
  // reader started, nothing read yet; every sample times scale; levels, when given, meters
  // each block. The reader and the meter are the blocks' own until this is destroyed.
  SampleBlocks(SampleReader* reader, double scale, LevelMeter* levels);
  ~SampleBlocks();
  SampleBlocks(const SampleBlocks&) = delete;
  SampleBlocks& operator=(const SampleBlocks&) = delete;

  // The next block, valid until the next call: ErrNone with *n samples at *samples (0 after
  // the last) and *last set on the sound's last block; ErrRead as ReadSampleBlock gives it.
  int Next(const int32_t** samples, size_t* n, bool* last);

 private:
  struct Block {
    std::vector<int32_t> samples;
    size_t n = 0;
    bool last = false;
    int result = 0;
  };

  Block Read();
  void Run();

  SampleReader* reader_;
  double scale_;
  LevelMeter* levels_;
  Block held_;   // the caller's
  Block ready_;  // read ahead, waiting for the caller
  bool hasReady_ = false;
  bool ended_ = false;  // the caller has had the end or the failure
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;  // only for a sound of several blocks
};
