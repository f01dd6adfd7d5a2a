#pragma once
// What a designer needs to know about a sound before burning it, measured on the samples the
// encoder is given (mixed to mono, scaled and limited as the import or the preparation makes
// them) and on a prepared sound's source: its peak and RMS level, the samples at full scale,
// the silence at either end, and what each of the chip's codecs would make of it.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "audio/sound_codecs.h"
#include "sound_decoders.h"
#include "sound_kinds.h"

// Below this level, a sound's ends count as silence.
constexpr double kSilenceDbfs = -60.0;

// A sample at or within this of full scale counts as clipped: a recorder or a gain that cut the
// waveform leaves its tops there, flat or not (a converter's ripple alternates near-full
// values), and a sound that peaks there leaves the chip's decoders no room.
constexpr double kClipWithinDb = 0.1;

// Streaming levels of one sound: fed block by block, so that no sound is held whole.
struct LevelMeter {
  int64_t samples = 0;
  int64_t peak = 0;         // largest magnitude
  double energy = 0.0;      // sum of squares
  int64_t clipped = 0;      // samples at or within kClipWithinDb of full scale
  int64_t leading = 0;      // silent samples before the first loud one
  int64_t sinceLoud = 0;    // silent samples after the last loud one
  bool heardLoud = false;
};

// samples on the 16-bit scale; values beyond it (a float source above full scale) count as
// clipped and raise the peak above 0 dBFS.
void MeterBlock(LevelMeter* meter, const int32_t* samples, size_t n);

// A source of several channels: mixed holds the frames' mean, which gives the RMS (what the
// mono mix plays), loudest each frame's channel of the largest magnitude, which gives the peak,
// the clipping and the silence at the ends (one clipped channel is a clipped take).
void MeterFrames(LevelMeter* meter, const int32_t* mixed, const int32_t* loudest, size_t n);

struct SoundLevels {
  double peakDbfs = 0.0;  // -infinity for digital silence
  double rmsDbfs = 0.0;
  int64_t clipped = 0;
  int64_t leadingSilence = 0;   // samples
  int64_t trailingSilence = 0;  // samples; 0 when the whole sound is silence (all leading)
};

SoundLevels LevelsOf(const LevelMeter& meter);

// One codec's cost for a sound: the bytes it stores and the SNR of what the chip plays back
// (the image's own decoder with the tables the image carries) against the samples encoded.
struct CodecCost {
  int32_t kind;
  int64_t bytes;
  double snrDb;  // +infinity when the chip plays the samples back exactly
};

// The codecs a map compares, in its column order.
inline constexpr int32_t kComparedCodecs[] = {KindAdpcm, KindPcm8, KindUlaw, KindPcm16};

// The bytes the import's own encoder gave for a block, so that the sound's codec does not run
// twice. A searching ADPCM encoder gives its codes some samples late: a block's bytes then
// answer samples of earlier blocks, and the sound's last block gives the rest. Bytes of one
// value per sample answer exactly the block's samples and are played as given, unless they are
// the codec's own coding of those very samples, which the meter works out without reading them.
struct EncodedBlock {
  int32_t kind = 0;  // 0: nothing given
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  bool ofTheseSamples = false;  // the codec's encoder gave them for the samples metered with them
};

// The chip's decoding tables as every image stores them in its system area.
const StoredCodecTables& ImageTables();

// The ADPCM column of one sound: codes played back as the chip plays them, against the samples.
struct AdpcmLane {
  int quality = 0;
  bool encoding = false;         // its own encoder started, for a sound of another kind
  CodecState adpcm;
  AdpcmPlayback player;
  std::vector<int32_t> waiting;  // samples whose codes have not been given yet
  std::vector<uint8_t> code;     // one block's codes, reused
  int64_t noise = 0;             // sum of squared differences
  int64_t bytes = 0;
};

class LaneThread;

// Every compared codec tried on a sound block by block, as the import streams it, so that no
// sound is held whole: ADPCM at the quality level of the compile, its codes played back by the
// chip's decoder with the tables every image carries; for the codecs of one value per sample,
// what the chip plays is worked out from each sample (the import's bytes of those add nothing).
// A sound of several blocks not stored as ADPCM runs its ADPCM encoder on a thread beside the
// compile: that trial costs more than a whole PCM16 compile.
struct CodecMeter {
  // ownCodecOnly: only the codec of the bytes given is measured, from those bytes, for a caller
  // that reads nothing else (the preparation's SNR of the sound as stored).
  explicit CodecMeter(int adpcmQuality = 0, bool ownCodecOnly = false);
  ~CodecMeter();
  CodecMeter(const CodecMeter&) = delete;
  CodecMeter& operator=(const CodecMeter&) = delete;
  bool ownCodecOnly = false;
  int64_t signal = 0;            // sum of squared samples
  int64_t bytes[std::size(kComparedCodecs)] = {};  // per compared codec, in column order; ADPCM's in the lane
  int64_t noise[std::size(kComparedCodecs)] = {};  // sums of squared differences
  int64_t metered = 0;            // samples of the lanes of one value per sample so far
  std::vector<uint32_t> counts;   // of each 16-bit value, from -32768 on, once a sound is long
  int32_t ownKind = 0;            // the lane measured from the sound's own bytes, if any
  AdpcmLane adpcm;
  std::unique_ptr<LaneThread> thread;  // while the ADPCM lane runs beside the compile
  bool inLine = false;                 // no thread could be started for it
};

// A block of samples, each within -32768..32767 as the reader gives them (others are measured
// too, only slower); every block but a sound's last (last) holds an even count, so that ADPCM's
// padding nibble comes only at the end, where it is not compared.
void MeterCodecs(CodecMeter* meter, const int32_t* samples, size_t n, bool last,
                 const EncodedBlock& encoded = {});

std::vector<CodecCost> CodecCostsOf(const CodecMeter& meter);

// dBFS of a magnitude on the 16-bit scale; -infinity for 0.
double Dbfs(double magnitude);
