#include "audio/sound_measure.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "codec_tables.h"
#include "sound_kinds.h"

namespace {

// -60 dBFS on the 16-bit scale.
const int32_t kSilenceLimit = static_cast<int32_t>(32768.0 * std::pow(10.0, kSilenceDbfs / 20.0));

// The smallest magnitude within kClipWithinDb of full scale: 32393.
const int32_t kClipLimit = static_cast<int32_t>(std::ceil(32768.0 * std::pow(10.0, -kClipWithinDb / 20.0)));

// Exact in 64 bits: a squared difference of two 16-bit samples is below 2^32, so 2^31 samples
// of it still fit.
int64_t Squared(int64_t difference) { return difference * difference; }

static_assert(kComparedCodecs[0] == KindAdpcm, "the first lane is ADPCM's, with a state");

// The lanes after ADPCM: the codecs of one value per sample, which have no state.
constexpr size_t kValueLanes = std::size(kComparedCodecs) - 1;

// Each sample less what the chip plays of the bytes one codec of one value per sample gives
// for it: the codec's own encoder and the chip's decoder, for samples outside 16 bits.
std::vector<int32_t> Differences(int32_t kind, const int32_t* samples, size_t n) {
  CodecState state;
  std::vector<uint8_t> code;
  FindCodec(kind)->encode(&state, samples, n, true, &code);
  std::vector<int32_t> played = DecodeKindRange(kind, code.data(), code.size(), ImageTables());
  for (size_t i = 0; i < n; ++i) played[i] = samples[i] - played[i];
  return played;
}

// A sound's own bytes of one value per sample are played as they are: they need not be the
// samples' own coding, since preparation dithers what it encodes and measures the result
// against the samples before the dither.
int64_t OwnBytesNoise(const EncodedBlock& own, const int32_t* samples, size_t n) {
  const std::vector<int32_t> played = DecodeKindRange(own.kind, own.bytes, own.size, ImageTables());
  int64_t noise = 0;
  for (size_t i = 0; i < n && i < played.size(); ++i) noise += Squared(int64_t{samples[i]} - played[i]);
  return noise;
}

// The differences of a 16-bit sample by its magnitude, so that a long sound costs a lookup per
// sample: worked out once for -0..-32768 by each codec's own encoder and the chip's decoder.
// Both codecs code a sample and its negative alike but for the sign, so a positive sample's
// difference is its negative's negated, which the square does not see. The unit tests hold each against
// the encoder and the chip's decoder for every 16-bit value.
struct MagnitudeDifferences {
  std::vector<int16_t> pcm8;  // within 255
  std::vector<int16_t> ulaw;  // within 1024
};

std::vector<int16_t> DifferencesOfNegatives(int32_t kind) {
  std::vector<int32_t> negatives(32769);
  for (int32_t m = 0; m <= 32768; ++m) negatives[static_cast<size_t>(m)] = -m;
  const std::vector<int32_t> d = Differences(kind, negatives.data(), negatives.size());
  return {d.begin(), d.end()};
}

const MagnitudeDifferences& ByMagnitude() {
  static const MagnitudeDifferences differences{DifferencesOfNegatives(KindPcm8), DifferencesOfNegatives(KindUlaw)};
  return differences;
}

bool Within16Bits(const int32_t* samples, size_t n) {
  int32_t low = 0, high = 0;
  for (size_t i = 0; i < n; ++i) low = std::min(low, samples[i]), high = std::max(high, samples[i]);
  return low >= -32768 && high <= 32767;
}

// From a sound's second block on, the lanes of one value per sample only count how often each
// 16-bit value comes: their noise depends on the value alone, and is summed over the counts
// when the costs are read. A short sound never pays for the 65536 counts.
constexpr int64_t kCountFrom = 65536;

void CountValues(CodecMeter* meter, const int32_t* samples, size_t n) {
  if (meter->counts.empty()) meter->counts.assign(size_t{1} << 16, 0);
  uint32_t* counts = meter->counts.data() + 32768;
  for (size_t i = 0; i < n; ++i) ++counts[samples[i]];
}

void MeterValueLanes(CodecMeter* meter, const int32_t* samples, size_t n, const EncodedBlock& own) {
  static_assert(kComparedCodecs[1] == KindPcm8 && kComparedCodecs[2] == KindUlaw && kComparedCodecs[3] == KindPcm16,
                "the lanes of one value per sample");
  int64_t signal = 0;
  int64_t noise[kValueLanes] = {};
  const bool within = Within16Bits(samples, n);
  if (within && meter->metered >= kCountFrom) {
    CountValues(meter, samples, n);
  } else if (within) {
    // PCM16 stores a sample within 16 bits as it is: its lane has no noise to add.
    const MagnitudeDifferences& by = ByMagnitude();
    for (size_t i = 0; i < n; ++i) {
      const size_t magnitude = static_cast<size_t>(samples[i] < 0 ? -samples[i] : samples[i]);
      signal += Squared(static_cast<int64_t>(magnitude));
      noise[0] += Squared(by.pcm8[magnitude]);
      noise[1] += Squared(by.ulaw[magnitude]);
    }
  } else {
    for (size_t i = 0; i < n; ++i) signal += Squared(samples[i]);
    for (size_t lane = 0; lane < kValueLanes; ++lane) {
      for (int32_t d : Differences(kComparedCodecs[lane + 1], samples, n)) noise[lane] += Squared(d);
    }
  }
  meter->metered += static_cast<int64_t>(n);
  meter->signal += signal;
  for (size_t lane = 0; lane < kValueLanes; ++lane) {
    if (own.bytes != nullptr && own.kind == kComparedCodecs[lane + 1] && !own.ofTheseSamples) {
      meter->ownKind = own.kind;
      noise[lane] = OwnBytesNoise(own, samples, n);
    }
    meter->noise[lane + 1] += noise[lane];
    meter->bytes[lane + 1] += static_cast<int64_t>(FindCodec(kComparedCodecs[lane + 1])->bytes(n));
  }
}

// The counted values' signal and noise added to what was summed sample by sample; the lane of
// the sound's own bytes was summed from those bytes, every block.
void AddCounted(const CodecMeter& meter, int64_t* signal, int64_t* noise) {
  if (meter.counts.empty()) return;
  const MagnitudeDifferences& by = ByMagnitude();
  for (size_t slot = 0; slot < meter.counts.size(); ++slot) {
    const int64_t count = meter.counts[slot];
    if (count == 0) continue;
    const size_t magnitude = static_cast<size_t>(std::abs(static_cast<int32_t>(slot) - 32768));
    *signal += count * Squared(static_cast<int64_t>(magnitude));
    if (meter.ownKind != KindPcm8) noise[1] += count * Squared(by.pcm8[magnitude]);
    if (meter.ownKind != KindUlaw) noise[2] += count * Squared(by.ulaw[magnitude]);
  }
}

// The chip's ADPCM decoder as two tables by step index and code: what the code adds to the
// predictor before the limit, as the chip's decoder plays it with the image's steps, and the
// index it leaves (times 16, the first entry of that index).
struct AdpcmMoves {
  int32_t delta[kImaStepCount * 16];
  int32_t next[kImaStepCount * 16];
};

const AdpcmMoves& Moves() {
  static const AdpcmMoves moves = [] {
    AdpcmMoves m{};
    const StoredCodecTables& tables = ImageTables();
    for (int index = 0; index < kImaStepCount; ++index) {
      for (int code = 0; code < 16; ++code) {
        m.delta[index * 16 + code] = AdpcmDelta(tables.steps[index], code);
        m.next[index * 16 + code] = AdpcmNextIndex(index, code) * 16;
      }
    }
    return m;
  }();
  return moves;
}

// One code played against its sample. The chain from one sample to the next is one table
// load and the predictor's sum and limit.
inline void PlayCode(const AdpcmMoves& m, int32_t code, int32_t sample, int32_t* predictor, int32_t* row,
                     int64_t* noise) {
  *predictor = std::clamp(*predictor + m.delta[*row + code], -32768, 32767);
  *row = m.next[*row + code];
  *noise += Squared(int64_t{sample} - *predictor);
}

// Plays count nibbles from nibble first of bytes (the earlier of a byte in its high half)
// against as many samples; returns the squared error.
int64_t PlayAdpcm(AdpcmPlayback* player, const uint8_t* bytes, size_t first, size_t count, const int32_t* samples) {
  const AdpcmMoves& m = Moves();
  int32_t predictor = player->predictor;
  int32_t row = player->index * 16;
  int64_t noise = 0;
  size_t i = 0;
  if (count > 0 && first % 2 != 0) PlayCode(m, bytes[first / 2] & 0x0F, samples[i++], &predictor, &row, &noise);
  const uint8_t* byte = bytes + (first + i) / 2;
  for (; i + 1 < count; i += 2, ++byte) {
    PlayCode(m, *byte >> 4, samples[i], &predictor, &row, &noise);
    PlayCode(m, *byte & 0x0F, samples[i + 1], &predictor, &row, &noise);
  }
  if (i < count) PlayCode(m, *byte >> 4, samples[i], &predictor, &row, &noise);
  player->predictor = predictor;
  player->index = row / 16;
  return noise;
}

// The codes first answer the samples still waiting for theirs, then this block's; samples left
// without a code wait for the next block. Codes beyond the samples are the padding nibble.
void PlayLane(AdpcmLane* lane, const int32_t* samples, size_t n, const uint8_t* bytes, size_t size) {
  const size_t codes = 2 * size;
  const size_t early = std::min(codes, lane->waiting.size());
  int64_t noise = PlayAdpcm(&lane->player, bytes, 0, early, lane->waiting.data());
  lane->waiting.erase(lane->waiting.begin(), lane->waiting.begin() + static_cast<std::ptrdiff_t>(early));
  const size_t now = std::min(codes - early, n);
  noise += PlayAdpcm(&lane->player, bytes, early, now, samples);
  lane->waiting.insert(lane->waiting.end(), samples + now, samples + n);
  lane->noise += noise;
  lane->bytes += static_cast<int64_t>(size);
}

// The lane's own encoder at the compile's level, for a sound stored otherwise.
void EncodeLane(AdpcmLane* lane, const int32_t* samples, size_t n, bool last) {
  if (!lane->encoding) StartAdpcmSearch(&lane->adpcm.adpcm, lane->quality);
  lane->encoding = true;
  if (lane->quality == 0) {
    // The greedy encoder's predictor is what the chip plays: no playback needed.
    lane->code.resize(AdpcmBytes(n));
    lane->noise += EncodeAdpcmMeasured(&lane->adpcm.adpcm.greedy, samples, n, lane->code.data());
    lane->bytes += static_cast<int64_t>(lane->code.size());
    return;
  }
  FindCodec(KindAdpcm)->encode(&lane->adpcm, samples, n, last, &lane->code);
  PlayLane(lane, samples, n, lane->code.data(), lane->code.size());
}

// The sound's own codec alone, from the bytes given.
void MeterOwnLane(CodecMeter* meter, const int32_t* samples, size_t n, const EncodedBlock& own) {
  for (size_t i = 0; i < n; ++i) meter->signal += Squared(samples[i]);
  if (own.kind == KindAdpcm) return PlayLane(&meter->adpcm, samples, n, own.bytes, own.size);
  for (size_t lane = 1; lane < std::size(kComparedCodecs); ++lane) {
    if (kComparedCodecs[lane] != own.kind) continue;
    meter->noise[lane] += OwnBytesNoise(own, samples, n);
    meter->bytes[lane] += static_cast<int64_t>(own.size);
  }
}

double SnrDb(int64_t signal, int64_t noise) {
  if (noise == 0) return std::numeric_limits<double>::infinity();
  if (signal == 0) return -std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(static_cast<double>(signal) / static_cast<double>(noise));
}

}  // namespace

const StoredCodecTables& ImageTables() {
  static const StoredCodecTables tables = ImageCodecTables();
  return tables;
}

double Dbfs(double magnitude) {
  return magnitude > 0.0 ? 20.0 * std::log10(magnitude / 32768.0) : -std::numeric_limits<double>::infinity();
}

namespace {

// The magnitude of any 32-bit sample, INT32_MIN's too.
uint32_t Magnitude(int32_t v) { return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v); }

// The silence at the ends needs only a block's first and last loud sample.
void MeterSilence(LevelMeter* meter, const int32_t* loudest, size_t n) {
  const uint32_t limit = static_cast<uint32_t>(kSilenceLimit);
  size_t first = 0;
  while (first < n && Magnitude(loudest[first]) <= limit) ++first;
  if (first == n) {
    (meter->heardLoud ? meter->sinceLoud : meter->leading) += static_cast<int64_t>(n);
    return;
  }
  if (!meter->heardLoud) meter->leading += static_cast<int64_t>(first);
  meter->heardLoud = true;
  size_t last = n - 1;
  while (Magnitude(loudest[last]) <= limit) --last;
  meter->sinceLoud = static_cast<int64_t>(n - 1 - last);
}

}  // namespace

namespace {

// What one block adds to the meter's figures but the silence.
struct BlockLevels {
  uint32_t peak = 0;
  int64_t clipped = 0;
  double energy = 0.0;
};

// Sums of 16-bit squares are exact in 64 bits, and their total below 2^53 converts to the very
// double that any order of exact double sums gives: below this many samples a block's total is
// always there.
constexpr size_t kExactBlock = size_t{1} << 22;

// One loop of integer lanes, which the compiler turns into vector instructions: the peak and
// the clipping from the loudest channel, the squares of the mix in 64 bits, and the mix's range,
// which says whether those squares were exact (a product of a value beyond 16 bits wraps).
bool MeterSixteenBit(const int32_t* mixed, const int32_t* loudest, size_t n, BlockLevels* block) {
  uint32_t peak = 0;
  uint32_t clipped = 0;
  uint64_t energy = 0;
  int32_t low = 0, high = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t magnitude = Magnitude(loudest[i]);
    peak = std::max(peak, magnitude);
    clipped += magnitude >= static_cast<uint32_t>(kClipLimit) ? 1u : 0u;
    const int32_t v = mixed[i];
    low = std::min(low, v);
    high = std::max(high, v);
    const uint32_t u = static_cast<uint32_t>(v);
    energy += u * u;
  }
  if (low < -32768 || high > 32767) return false;
  *block = {peak, clipped, static_cast<double>(energy)};
  return true;
}

// Values beyond 16 bits (a prepared source above full scale): four running double sums, so that
// no addition waits on the one before it.
BlockLevels MeterWide(const int32_t* mixed, const int32_t* loudest, size_t n) {
  BlockLevels block;
  double energy[4] = {0.0, 0.0, 0.0, 0.0};
  for (size_t i = 0; i < n; ++i) {
    const uint32_t magnitude = Magnitude(loudest[i]);
    block.peak = std::max(block.peak, magnitude);
    block.clipped += magnitude >= static_cast<uint32_t>(kClipLimit) ? 1 : 0;
    energy[i % 4] += static_cast<double>(mixed[i]) * mixed[i];
  }
  block.energy = (energy[0] + energy[1]) + (energy[2] + energy[3]);
  return block;
}

// A mono block within 16 bits, as the plain import gives it: each sample's square gives its
// energy, the peak (the square root of the largest) and whether it clips, so one loop of
// integer lanes does with a multiplication what magnitudes and their unsigned maximum cost
// several instructions each for. Whether every sample is within 16 bits shows in the bits
// above 16 of the samples offset by 32768, or-ed together.
bool MeterSixteenBitMono(const int32_t* samples, size_t n, BlockLevels* block) {
  const int32_t kClipSquare = kClipLimit * kClipLimit;
  uint32_t offsets = 0;
  int32_t largest = 0;
  uint32_t clipped = 0;
  uint64_t energy = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t v = static_cast<uint32_t>(samples[i]);
    offsets |= v + 32768u;
    const int32_t square = static_cast<int32_t>(v * v);  // at most 2^30 within 16 bits
    largest = std::max(largest, square);
    clipped += square >= kClipSquare ? 1u : 0u;
    energy += static_cast<uint32_t>(square);
  }
  if (offsets > 0xFFFFu) return false;
  *block = {static_cast<uint32_t>(std::sqrt(static_cast<double>(largest))), clipped, static_cast<double>(energy)};
  return true;
}

void AddBlock(LevelMeter* meter, const BlockLevels& block, const int32_t* loudest, size_t n) {
  meter->peak = std::max<int64_t>(meter->peak, block.peak);
  meter->clipped += block.clipped;
  meter->energy += block.energy;
  MeterSilence(meter, loudest, n);
  meter->samples += static_cast<int64_t>(n);
}

}  // namespace

void MeterFrames(LevelMeter* meter, const int32_t* mixed, const int32_t* loudest, size_t n) {
  BlockLevels block;
  if (n > kExactBlock || !MeterSixteenBit(mixed, loudest, n, &block)) block = MeterWide(mixed, loudest, n);
  AddBlock(meter, block, loudest, n);
}

void MeterBlock(LevelMeter* meter, const int32_t* samples, size_t n) {
  BlockLevels block;
  if (n > kExactBlock || !MeterSixteenBitMono(samples, n, &block)) return MeterFrames(meter, samples, samples, n);
  AddBlock(meter, block, samples, n);
}

SoundLevels LevelsOf(const LevelMeter& meter) {
  SoundLevels levels;
  levels.peakDbfs = Dbfs(meter.peak);
  levels.rmsDbfs = Dbfs(meter.samples > 0 ? std::sqrt(meter.energy / static_cast<double>(meter.samples)) : 0.0);
  levels.clipped = meter.clipped;
  levels.leadingSilence = meter.leading;
  levels.trailingSilence = meter.sinceLoud;
  return levels;
}

// The lane's blocks queue for the thread, two at most, so that the memory stays bounded and the
// compile waits when the encoder falls behind. The thread alone touches the lane until the
// sound's last block is done.
class LaneThread {
 public:
  explicit LaneThread(AdpcmLane* lane) : lane_(lane), thread_(&LaneThread::Run, this) {}
  ~LaneThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void Add(const int32_t* samples, size_t n, bool last) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queued_.size() < kQueued; });
    std::vector<int32_t> block;
    if (!spare_.empty()) block = std::move(spare_.back()), spare_.pop_back();
    block.assign(samples, samples + n);
    queued_.push_back({std::move(block), last});
    changed_.notify_all();
  }

  // Returns once every block given is in the lane.
  void Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queued_.empty() && !busy_; });
  }

 private:
  static constexpr size_t kQueued = 2;
  struct Block {
    std::vector<int32_t> samples;
    bool last;
  };

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
      if (stopping_) return;
      Block block = std::move(queued_.front());
      queued_.pop_front();
      busy_ = true;
      changed_.notify_all();
      lock.unlock();
      EncodeLane(lane_, block.samples.data(), block.samples.size(), block.last);
      lock.lock();
      busy_ = false;
      spare_.push_back(std::move(block.samples));
      changed_.notify_all();
    }
  }

  AdpcmLane* lane_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> queued_;
  std::vector<std::vector<int32_t>> spare_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once everything above is built
};

CodecMeter::CodecMeter(int quality, bool ownOnly) : ownCodecOnly(ownOnly) { adpcm.quality = quality; }

CodecMeter::~CodecMeter() = default;

namespace {

// A sound's first block that is not its last starts the thread; where no thread can be
// started, the lane runs in line as for a short sound.
void TrialBeside(CodecMeter* meter, const int32_t* samples, size_t n, bool last) {
  if (meter->thread == nullptr && !last && !meter->inLine) {
    try {
      meter->thread = std::make_unique<LaneThread>(&meter->adpcm);
    } catch (const std::system_error&) {
      meter->inLine = true;  // not tried again for every block
    }
  }
  if (meter->thread == nullptr) return EncodeLane(&meter->adpcm, samples, n, last);
  meter->thread->Add(samples, n, last);
  if (last) meter->thread->Drain();
}

}  // namespace

void MeterCodecs(CodecMeter* meter, const int32_t* samples, size_t n, bool last, const EncodedBlock& encoded) {
  if (meter->ownCodecOnly && encoded.bytes != nullptr) return MeterOwnLane(meter, samples, n, encoded);
  if (encoded.kind != KindAdpcm) TrialBeside(meter, samples, n, last);
  MeterValueLanes(meter, samples, n, encoded);
  if (encoded.kind == KindAdpcm) PlayLane(&meter->adpcm, samples, n, encoded.bytes, encoded.size);
}

std::vector<CodecCost> CodecCostsOf(const CodecMeter& meter) {
  int64_t signal = meter.signal;
  int64_t noise[std::size(kComparedCodecs)];
  int64_t bytes[std::size(kComparedCodecs)];
  std::copy(std::begin(meter.noise), std::end(meter.noise), noise);
  std::copy(std::begin(meter.bytes), std::end(meter.bytes), bytes);
  noise[0] = meter.adpcm.noise;
  bytes[0] = meter.adpcm.bytes;
  AddCounted(meter, &signal, noise);
  std::vector<CodecCost> costs;
  for (size_t lane = 0; lane < std::size(kComparedCodecs); ++lane) {
    costs.push_back({kComparedCodecs[lane], bytes[lane], SnrDb(signal, noise[lane])});
  }
  return costs;
}
