#include "audio/sample_blocks.h"

#include <utility>

#include "result_codes.h"

namespace {

// Below this, a thread costs more to start than it saves.
constexpr uint32_t kBlocksForThread = 3;

}  // namespace

SampleBlocks::SampleBlocks(SampleReader* reader, double scale, LevelMeter* levels)
    : reader_(reader), scale_(scale), levels_(levels) {
  if (reader->frames / reader->blockFrames < kBlocksForThread) return;
  // Three buffers go round: the reader's, the one read ahead and the caller's.
  held_.samples.resize(reader->samples.size());
  ready_.samples.resize(reader->samples.size());
  thread_ = std::thread(&SampleBlocks::Run, this);
}

SampleBlocks::~SampleBlocks() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

// The next block into the reader's buffer, metered.
SampleBlocks::Block SampleBlocks::Read() {
  Block block;
  block.result = ReadSampleBlock(reader_, scale_, &block.n);
  if (block.result == ErrNone && levels_ != nullptr) MeterBlock(levels_, reader_->samples.data(), block.n);
  block.last = reader_->done >= reader_->frames;
  return block;
}

void SampleBlocks::Run() {
  for (;;) {
    Block block = Read();
    const bool end = block.result != ErrNone || block.n == 0;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || !hasReady_; });
    if (stopping_) return;
    // The buffer read into goes to the caller; the one the caller gave back is read into next.
    std::swap(ready_.samples, reader_->samples);
    ready_.n = block.n;
    ready_.last = block.last;
    ready_.result = block.result;
    hasReady_ = true;
    changed_.notify_all();
    if (end) return;
  }
}

int SampleBlocks::Next(const int32_t** samples, size_t* n, bool* last) {
  if (!thread_.joinable()) {
    const Block block = Read();
    *samples = reader_->samples.data();
    *n = block.n;
    *last = block.last;
    return block.result;
  }
  if (ended_) {
    *n = 0;
    *last = true;
    return held_.result;
  }
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return hasReady_; });
    std::swap(held_, ready_);
    hasReady_ = false;
  }
  changed_.notify_all();
  ended_ = held_.result != ErrNone || held_.n == 0;
  *samples = held_.samples.data();
  *n = held_.n;
  *last = held_.last;
  return held_.result;
}
