#include "audio/sound_preparation.h"

#include <ebur128.h>
#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>

#include "audio/butterworth_filter.h"
#include "audio/fixed_grid.h"
#include "audio/pcm_encoders.h"
#include "audio/peak_limiter.h"
#include "audio/sound_codecs.h"
#include "audio/sound_measure.h"
#include "audio/spl_weighting.h"
#include "audio/wave_input.h"
#include "output_writer.h"
#include "sound_kinds.h"
#include "text_format.h"

namespace {

// Frames per step of the pipeline: every buffer is a few of these.
constexpr size_t kBlock = 8192;

// The resampled signal is kept as integers at 24-bit precision (2^23 is full scale), the gain
// as a 24-bit fraction; their product is on a 2^47 scale, 2^32 above the 16-bit one.
constexpr int kStageBits = 23;
constexpr int kGainBits = 24;
constexpr double kStageScale = 8388608.0;  // 2^kStageBits

constexpr double kCeilingDbfs = -1.0;
constexpr double kKeptSeconds = 0.010;  // on each side of a trim
// Between the samples above the trim's level, a gap up to this long stays within one stretch:
// a half cycle of 33 Hz, lower than any voice or loudspeaker the chip drives.
constexpr double kBridgedSeconds = 0.015;
// After the high-pass, what lies an octave below its cut-off should be this far under the
// sound's RMS; closer, the filter did not take the rumble out. The measuring low-pass takes
// anything at the cut-off 24 dB down, so what passes the high-pass is never counted.
constexpr double kResidueDb = 20.0;
constexpr double kResidueBelow = 0.5;
constexpr int kResidueOrder = 4;
// Gain reduction the limiter may take off peaks before it starts to be heard on speech.
constexpr double kAudibleLimitingDb = 12.0;
// A stereo mix that comes out this much below its channels has them cancelling each other.
constexpr double kMixLossDb = 6.0;

double Hundredths(double v) { return std::nearbyint(v * 100.0) / 100.0; }

// An option's value; some take a whole number after a colon as well (part: null when not), and
// the trim a level under the sound's own peak ("peak-40") in place of one in dBFS.
struct ValueRule {
  const char* option;
  std::string PreparationTexts::*text;
  bool PreparationOptions::*given;
  double PreparationOptions::*value;
  double low, high;
  const char* unit;
  int PreparationOptions::*part;
  int partLow, partHigh;
  const char* partName;
  bool PreparationOptions::*fromPeak;
};

const ValueRule kValueRules[] = {
    {"--loudness", &PreparationTexts::loudness, &PreparationOptions::loudness,
     &PreparationOptions::loudnessLufs, -70, -1, "LUFS", nullptr, 0, 0, nullptr, nullptr},
    {"--trim", &PreparationTexts::trim, &PreparationOptions::trim, &PreparationOptions::trimDbfs,
     -120, -1, "dBFS", &PreparationOptions::trimHoldMs, 0, 1000, "the hold in ms", &PreparationOptions::trimFromPeak},
    {"--highpass", &PreparationTexts::highpass, &PreparationOptions::highpass,
     &PreparationOptions::highpassHz, 1, 4000, "Hz", &PreparationOptions::highpassOrder, 2, 8, "the order", nullptr},
    {"--limit", &PreparationTexts::limit, &PreparationOptions::limit, &PreparationOptions::limitDbfs,
     -30, 0, "dBFS", nullptr, 0, 0, nullptr, nullptr},
};

constexpr std::string_view kPeakPrefix = "peak";

// Only plain decimal digits: "4.5", "+4" or " 4" is no order.
bool ParseWhole(const std::string& text, int low, int high, int* value) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = std::atoi(text.c_str());
  return *value >= low && *value <= high;
}

bool ParseValue(const ValueRule& rule, const std::string& text, PreparationOptions* options, std::string* error) {
  const bool fromPeak = rule.fromPeak != nullptr && text.starts_with(kPeakPrefix);
  if (rule.fromPeak != nullptr) options->*rule.fromPeak = fromPeak;
  const std::string value = fromPeak ? text.substr(kPeakPrefix.size()) : text;
  const size_t colon = rule.part != nullptr ? value.find(':') : std::string::npos;
  if (!ParseNumber(value.substr(0, colon), rule.low, rule.high, &(options->*rule.value))) {
    const char* fault = NumberFault(value.substr(0, colon));
    *error = fromPeak ? Format("%s %s %s: give peak%g to peak%g, the dB under the sound's own peak", rule.option,
                               text.c_str(), fault, rule.high, rule.low)
                      : Format("%s %s %s: give %g to %g %s", rule.option, text.c_str(), fault, rule.low, rule.high,
                               rule.unit);
    return false;
  }
  if (colon == std::string::npos || ParseWhole(value.substr(colon + 1), rule.partLow, rule.partHigh, &(options->*rule.part))) {
    return true;
  }
  *error = Format("%s %s is out of range: give %s after the colon as %d to %d", rule.option, text.c_str(),
                  rule.partName, rule.partLow, rule.partHigh);
  return false;
}

// --- reading ------------------------------------------------------------------------------

struct FormatName {
  int code;
  const char* name;
};

const FormatName kContainers[] = {
    {SF_FORMAT_WAV, "WAV"},   {SF_FORMAT_WAVEX, "WAV"}, {SF_FORMAT_RF64, "RF64"},
    {SF_FORMAT_W64, "W64"},   {SF_FORMAT_AIFF, "AIFF"}, {SF_FORMAT_FLAC, "FLAC"},
    {SF_FORMAT_CAF, "CAF"},   {SF_FORMAT_OGG, "OGG"},
};

const FormatName kEncodings[] = {
    {SF_FORMAT_PCM_S8, "8-bit"}, {SF_FORMAT_PCM_U8, "8-bit"}, {SF_FORMAT_PCM_16, "16-bit"},
    {SF_FORMAT_PCM_24, "24-bit"}, {SF_FORMAT_PCM_32, "32-bit"}, {SF_FORMAT_FLOAT, "float"},
    {SF_FORMAT_DOUBLE, "double"}, {SF_FORMAT_VORBIS, "Vorbis"},
};

const char* NameOf(const FormatName* table, size_t n, int code, const char* otherwise) {
  for (size_t i = 0; i < n; ++i) {
    if (table[i].code == code) return table[i].name;
  }
  return otherwise;
}

std::string FormatText(int format) {
  return std::string(NameOf(kContainers, std::size(kContainers), format & SF_FORMAT_TYPEMASK, "other")) +
         " " + NameOf(kEncodings, std::size(kEncodings), format & SF_FORMAT_SUBMASK, "encoded");
}

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

// On Windows libsndfile's sf_open reads a name in the ANSI code page, where a recording named
// in another script's letters cannot be found: its wide open takes every name.
SNDFILE* OpenSoundFile(const std::string& path, int mode, SF_INFO* info) {
#ifdef _WIN32
  return sf_wchar_open(WidePath(path).c_str(), mode, info);
#else
  return sf_open(path.c_str(), mode, info);
#endif
}

// A source read as mono blocks: each frame is the mean of its channels.
struct Source {
  SndfilePtr file;
  SF_INFO info{};
  std::vector<double> frames;
  double channelEnergy = 0;  // summed over every channel, of what was read
  double mixEnergy = 0;

  bool Open(const std::string& path, std::string* reason) {
    // A FIFO would hang the compile and a folder is no recording.
    const FileIdentity id = IdentifyInput(path.c_str());
    // libsndfile's own words for a missing file read "System error : ...".
    if (id.kind != FileKind::Regular) return *reason = UnreadableReason(id.kind), false;
    file.reset(OpenSoundFile(path, SFM_READ, &info));
    if (!file) return *reason = sf_strerror(nullptr), false;
    if (info.channels < 1 || info.samplerate < 1 || info.frames < 1) return *reason = "it holds no samples", false;
    frames.resize(kBlock * static_cast<size_t>(info.channels));
    return true;
  }

  size_t ReadMono(double* mono) {
    const sf_count_t n = sf_readf_double(file.get(), frames.data(), static_cast<sf_count_t>(kBlock));
    const int channels = info.channels;
    // The sums in locals: kept in the members, each addition waited on a store and a load.
    double channelSum = channelEnergy, mixSum = mixEnergy;
    for (sf_count_t i = 0; i < n; ++i) {
      double sum = 0, squares = 0;
      for (int c = 0; c < channels; ++c) {
        const double v = frames[static_cast<size_t>(i * channels + c)];
        sum += v, squares += v * v;
      }
      mono[i] = sum / channels;
      channelSum += squares;
      mixSum += mono[i] * mono[i];
    }
    channelEnergy = channelSum, mixEnergy = mixSum;
    return n > 0 ? static_cast<size_t>(n) : 0;
  }

  // How far the mix to mono falls below its channels' mean power, in dB: 0 for channels alike,
  // 3 for unrelated ones, more when they cancel; 0 for one channel or none heard.
  double MixLossDb() const {
    const double channelMean = channelEnergy / info.channels;
    if (info.channels < 2 || !(channelMean > 0)) return 0;
    return mixEnergy > 0 ? 10 * std::log10(channelMean / mixEnergy) : HUGE_VAL;
  }
};

// A value within 2^30 rounded to nearest, ties to even, as lrint rounds: adding 1.5 x 2^52
// leaves a double no bits below the unit, so the sum is the value rounded, without a library
// call (every build does double arithmetic in SSE registers, the i686 one included).
int32_t Rounded(double x) {
  constexpr double kRounder = 6755399441055744.0;
  return static_cast<int32_t>((x + kRounder) - kRounder);
}

// A source sample on the 16-bit scale as the checks take it: beyond it up to 2^30, and 0 for
// NaN or infinity.
int32_t OnSixteenBitScale(double v) {
  return Rounded(std::clamp((std::fabs(v) <= DBL_MAX ? v : 0.0) * 32768.0, -1073741824.0, 1073741824.0));
}

// An integer recording's sample, which libsndfile gives within [-1, 1): the same value without
// the tests, in a loop the compiler turns into vector instructions.
int32_t OnSixteenBitScaleBounded(double v) { return Rounded(v * 32768.0); }

bool IntegerEncoding(int format) {
  const int subtype = format & SF_FORMAT_SUBMASK;
  return subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_16 ||
         subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_PCM_32;
}

// Of two channels, the one of the larger magnitude; the first when they are level.
int32_t Louder(int32_t first, int32_t second) { return std::abs(second) > std::abs(first) ? second : first; }

// The mix and each frame's loudest channel on the 16-bit scale.
template <int32_t (*OnScale)(double)>
void ScaleFrames(const double* mono, const double* frames, size_t channels, size_t n, int32_t* mixed,
                 int32_t* loudest) {
  for (size_t i = 0; i < n; ++i) mixed[i] = OnScale(mono[i]);
  for (size_t i = 0; i < n && channels == 2; ++i) loudest[i] = Louder(OnScale(frames[2 * i]), OnScale(frames[2 * i + 1]));
  for (size_t i = 0; i < n && channels > 2; ++i) {
    int32_t most = 0;
    for (size_t c = 0; c < channels; ++c) most = Louder(most, OnScale(frames[i * channels + c]));
    loudest[i] = most;
  }
}

// The source's levels, taken from the frames as a pass reads them: the mix for the RMS, each
// frame's loudest channel for the peak, the clipping and the silence at the ends.
struct SourceMeter {
  LevelMeter* meter;
  std::vector<int32_t> mixed = std::vector<int32_t>(kBlock);
  std::vector<int32_t> loudest = std::vector<int32_t>(kBlock);

  void Add(const Source& source, const double* mono, size_t n) {
    const size_t channels = static_cast<size_t>(source.info.channels);
    const auto scale = IntegerEncoding(source.info.format) ? ScaleFrames<OnSixteenBitScaleBounded>
                                                           : ScaleFrames<OnSixteenBitScale>;
    scale(mono, source.frames.data(), channels, n, mixed.data(), loudest.data());
    MeterFrames(meter, mixed.data(), channels > 1 ? loudest.data() : mixed.data(), n);
  }
};

// The largest magnitude of x[0, n) and of peak, NaN passed over as std::max passes it: four
// running maxima, so that no comparison waits on the one before (in any order, the same one).
double PeakOf(const double* x, size_t n, double peak) {
  double most[4] = {peak, peak, peak, peak};
  for (size_t i = 0; i < n; ++i) most[i % 4] = std::max(most[i % 4], std::fabs(x[i]));
  return std::max(std::max(most[0], most[1]), std::max(most[2], most[3]));
}

// --- high-pass ----------------------------------------------------------------------------

// The source, mixed and high-passed, from its first frame. With the high-pass, a low-pass an
// octave under its cut-off can measure what the filter left below it (on the pass that keeps
// the signal only: it costs as much as the high-pass).
struct FilteredSource {
  Source source;
  ButterworthFilter highpass;
  ButterworthFilter residue;
  std::vector<double> mono = std::vector<double>(kBlock);
  std::vector<double> low = std::vector<double>(kBlock);
  double peak = 0;          // of the mixed signal before the filter
  double filteredPeak = 0;  // after it
  int64_t done = 0;
  int64_t firstNotFinite = -1;  // a float file's NaN or infinity, which every filter would spread
  SourceMeter* levels = nullptr;  // given: the source's levels are taken as it is read

  bool Open(const PreparationJob& job, bool measureResidue, std::string* reason) {
    if (!source.Open(job.file, reason)) return false;
    const double rate = source.info.samplerate;
    if (job.options->highpass) {
      if (job.options->highpassHz >= rate / 2) {
        *reason = Format("--highpass %g Hz is out of range for its rate of %d Hz: give less than %g Hz",
                         job.options->highpassHz, source.info.samplerate, rate / 2);
        return false;
      }
      highpass.Design(FilterPass::High, job.options->highpassHz, rate, job.options->highpassOrder);
      if (measureResidue) residue.Design(FilterPass::Low, job.options->highpassHz * kResidueBelow, rate, kResidueOrder);
    }
    return true;
  }

  size_t Read() {
    const size_t n = source.ReadMono(mono.data());
    if (levels != nullptr) levels->Add(source, mono.data(), n);
    for (size_t i = 0; i < n; ++i) {
      if (!std::isfinite(mono[i])) {
        if (firstNotFinite < 0) firstNotFinite = done + static_cast<int64_t>(i);
        mono[i] = 0;
      }
    }
    peak = PeakOf(mono.data(), n, peak);
    done += static_cast<int64_t>(n);
    if (!highpass.On()) return n;
    highpass.Run(mono.data(), n);
    filteredPeak = PeakOf(mono.data(), n, filteredPeak);
    if (!residue.On()) return n;
    std::copy(mono.begin(), mono.begin() + static_cast<ptrdiff_t>(n), low.begin());
    residue.Run(low.data(), n);
    return n;
  }

  bool Finite(std::string* reason) const {
    if (firstNotFinite < 0) return true;
    *reason = Format("its sample %lld is not a number (NaN or infinite): the recording is damaged; "
                     "export it again", static_cast<long long>(firstNotFinite));
    return false;
  }
};

// The frames [first, end) that the trim keeps; the whole file without a trim.
struct Window {
  int64_t first = 0;
  int64_t end = 0;
};

// The stretches of a signal above a level: samples above it, with gaps no longer than bridge
// between them. A stretch counts as sound when it lasts hold samples or more, so that a click
// (a stretch of one sample) does not count; the trim keeps from the start of the first that
// counts to the end of the last.
struct Stretches {
  int64_t bridge, hold;
  int64_t start = -1, latest = -1;  // of the stretch being followed
  int64_t first = -1, last = -1;    // of the sound: the first counted stretch's start, the last one's end
  bool anyAbove = false;

  void Close() {
    if (start < 0 || latest - start + 1 < hold) return;
    if (first < 0) first = start;
    last = latest;
  }
  void Above(int64_t at) {
    anyAbove = true;
    if (start < 0 || at - latest > bridge) Close(), start = at;
    latest = at;
  }
};

// The level the trim keeps sound above: the dBFS given, or that far under the peak of the very
// signal the trim looks at (mixed and high-passed), which takes one more reading of the source,
// so that a quiet take and a loud one lose alike.
bool TrimThreshold(const PreparationJob& job, double* threshold, std::string* reason) {
  const double level = OnGrid(std::pow(10.0, job.options->trimDbfs / 20));
  if (!job.options->trimFromPeak) return *threshold = level, true;
  FilteredSource in;
  if (!in.Open(job, false, reason)) return false;
  while (in.Read() > 0) {
  }
  if (!in.Finite(reason)) return false;
  *threshold = (in.highpass.On() ? in.filteredPeak : in.peak) * level;
  return true;
}

// Reads the whole source: levels, when given, are taken on the way.
bool FindWindow(const PreparationJob& job, Window* window, SourceMeter* levels, bool* metered, std::string* reason) {
  double threshold = 0;
  if (!TrimThreshold(job, &threshold, reason)) return false;
  FilteredSource in;
  if (!in.Open(job, false, reason)) return false;
  in.levels = levels;
  const double rate = in.source.info.samplerate;
  Stretches found{std::llround(kBridgedSeconds * rate), std::llround(job.options->trimHoldMs * rate / 1000)};
  int64_t at = 0;
  for (size_t n; (n = in.Read()) > 0; at += static_cast<int64_t>(n)) {
    for (size_t i = 0; i < n; ++i) {
      if (std::fabs(in.mono[i]) >= threshold) found.Above(at + static_cast<int64_t>(i));
    }
  }
  found.Close();
  *metered = levels != nullptr;
  if (!in.Finite(reason)) return false;
  if (in.peak == 0) return *reason = "it is all silence", false;
  const std::string trim = TrimLevelText(*job.options);
  if (!found.anyAbove) {
    *reason = Format("--trim %s would leave nothing: no sample reaches that level", trim.c_str());
    return false;
  }
  if (found.first < 0) {
    *reason = Format("--trim %s would leave nothing: nothing stays above that level for %d ms", trim.c_str(),
                     job.options->trimHoldMs);
    return false;
  }
  const int64_t kept = std::llround(kKeptSeconds * rate);
  window->first = std::max<int64_t>(0, found.first - kept);
  window->end = std::min<int64_t>(at, found.last + 1 + kept);
  return true;
}

// --- resampling ---------------------------------------------------------------------------

using Sink = bool (*)(void* context, const double* samples, size_t n);

// soxr at very high quality on one thread, its output cut or padded to exactly
// round(frames x out / in) samples so that the length never depends on the engine.
struct Resampler {
  soxr_t soxr = nullptr;
  int64_t expected = 0;
  int64_t produced = 0;
  std::vector<double> out = std::vector<double>(kBlock);
  Sink sink;
  void* context;

  Resampler(Sink s, void* c) : sink(s), context(c) {}
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;
  ~Resampler() {
    if (soxr != nullptr) soxr_delete(soxr);
  }

  // soxr picks its AVX engine when the processor has one, and that engine rounds differently
  // from the plain one: the same file would give other samples on another machine. Its
  // variables pin the plain double-precision engine (SOXR_USE_SIMD would override the
  // 64-bit one, so both are set); a Windows build without the SIMD engines uses it anyway.
  static void PinPlainEngine() {
    static std::once_flag once;
    std::call_once(once, [] {
      SetProcessVariable("SOXR_USE_SIMD", "0");
      SetProcessVariable("SOXR_USE_SIMD64", "0");
    });
  }

  bool Start(int32_t inRate, int32_t outRate, int64_t frames, std::string* reason) {
    expected = (frames * outRate + inRate / 2) / inRate;
    if (inRate == outRate) return true;
    PinPlainEngine();
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr = soxr_create(inRate, outRate, 1, &error, &io, &quality, &runtime);
    if (error != nullptr) return *reason = Format("the resampler refuses it: %s", error), false;
    return true;
  }

  bool Emit(const double* samples, size_t n) {
    const size_t room = static_cast<size_t>(std::max<int64_t>(0, expected - produced));
    n = std::min(n, room);
    produced += static_cast<int64_t>(n);
    return n == 0 || sink(context, samples, n);
  }

  bool Push(const double* in, size_t n) {
    if (soxr == nullptr) return Emit(in, n);
    while (n > 0) {
      size_t used = 0, made = 0;
      if (soxr_process(soxr, in, n, &used, out.data(), out.size(), &made) != nullptr) return false;
      if (!Emit(out.data(), made)) return false;
      in += used, n -= used;
    }
    return true;
  }

  bool Finish() {
    for (size_t made = 1; soxr != nullptr && made > 0;) {
      if (soxr_process(soxr, nullptr, 0, nullptr, out.data(), out.size(), &made) != nullptr) return false;
      if (!Emit(out.data(), made)) return false;
    }
    std::fill(out.begin(), out.end(), 0.0);
    while (produced < expected) {
      if (!Emit(out.data(), static_cast<size_t>(std::min<int64_t>(expected - produced, kBlock)))) return false;
    }
    return true;
  }
};

// --- loudness -----------------------------------------------------------------------------

// libebur128 1.2.6 sizes its 400 ms window as 0.4 x rate rounded up to whole 100 ms blocks of
// (rate + 5) / 10 frames; at 5 to 9 and 15 to 17 Hz that is less than four blocks, and it writes
// past its buffer. No sound is played that slowly, so below this rate nothing is metered.
constexpr int32_t kLeastMeteredRate = 18;

struct LoudnessMeter {
  ebur128_state* state = nullptr;
  explicit LoudnessMeter(int32_t rate)
      : state(rate < kLeastMeteredRate ? nullptr : ebur128_init(1, static_cast<unsigned long>(rate), EBUR128_MODE_I)) {}
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;
  ~LoudnessMeter() {
    if (state != nullptr) ebur128_destroy(&state);
  }
  void Add(const double* x, size_t n) {
    if (state != nullptr) ebur128_add_frames_double(state, x, n);
  }
  // Rounded to hundredths; false when there is no gated block to measure (under 0.4 s, or
  // quieter than -70 LUFS throughout).
  bool Integrated(double* lufs) {
    double v = -HUGE_VAL;
    if (state == nullptr || ebur128_loudness_global(state, &v) != EBUR128_SUCCESS || !std::isfinite(v)) return false;
    *lufs = Hundredths(v);
    return true;
  }
};

// --- the stage: resampled, as integers ----------------------------------------------------

// The A-weighted power of a signal, as a meter hears it: of the source before the resampler and
// of what it made, so that the band a lower rate drops is known in the terms of the toy's level.
struct HeardPower {
  WeightingFilter filter;
  bool on = false;
  double energy = 0;
  int64_t frames = 0;

  void Start(double rate) { on = DesignWeighting(Weighting::A, rate, &filter); }
  void Add(const double* x, size_t n) {
    for (size_t i = 0; on && i < n; ++i) {
      const double w = WeightSample(&filter, x[i]);
      energy += w * w;
    }
    frames += static_cast<int64_t>(n);
  }
  double Mean() const { return on && frames > 0 ? energy / static_cast<double>(frames) : 0; }
};

struct StageWriter {
  StageWriter(FILE* f, int32_t rate) : file(f), meter(rate) {}
  FILE* file;
  LoudnessMeter meter;
  HeardPower heard;  // started only where the rate changes
  int64_t peak = 0;
  int64_t frames = 0;
  std::vector<int32_t> ints = std::vector<int32_t>(kBlock);
  std::vector<double> measured = std::vector<double>(kBlock);

  static bool Take(void* context, const double* x, size_t n) {
    auto* self = static_cast<StageWriter*>(context);
    for (size_t i = 0; i < n; ++i) {
      const double v = std::clamp(std::nearbyint(x[i] * kStageScale), -2147483647.0, 2147483647.0);
      self->ints[i] = static_cast<int32_t>(v);
      self->peak = std::max<int64_t>(self->peak, std::llabs(self->ints[i]));
      self->measured[i] = self->ints[i] / kStageScale;
    }
    self->meter.Add(self->measured.data(), n);
    if (self->heard.on) self->heard.Add(self->measured.data(), n);
    self->frames += static_cast<int64_t>(n);
    return std::fwrite(self->ints.data(), sizeof(int32_t), n, self->file) == n;
  }
};

// What the pass through the filter and the resampler saw, for the notes and for naming the
// step that took the signal over full scale.
struct StageFacts {
  double sourcePeak = 0;    // of the mixed source
  double filteredPeak = 0;  // after the high-pass (with one)
  double mixLossDb = 0;     // of the mix to mono against its channels
  double energy = 0;        // of the kept frames after the high-pass
  double residue = 0;       // of what the high-pass left an octave below its cut-off
  HeardPower heard;         // of the kept frames, when they are resampled
};

// Without a trim the window is the whole source, read to its end: levels, when given, are taken
// on the way.
bool WriteStage(const PreparationJob& job, const Window& window, int32_t rate, FILE* stage,
                StageWriter* writer, StageFacts* facts, SourceMeter* levels, bool* metered, std::string* reason) {
  FilteredSource in;
  if (!in.Open(job, true, reason)) return false;
  in.levels = levels;
  Resampler resampler(&StageWriter::Take, writer);
  if (!resampler.Start(in.source.info.samplerate, rate, window.end - window.first, reason)) return false;
  if (rate != in.source.info.samplerate) facts->heard.Start(in.source.info.samplerate), writer->heard.Start(rate);
  if (std::fseek(stage, 0, SEEK_SET) != 0) return *reason = "the scratch file cannot be rewound", false;
  int64_t at = 0;
  for (size_t n; (n = in.Read()) > 0 && at < window.end; at += static_cast<int64_t>(n)) {
    const int64_t from = std::max(window.first, at) - at;
    const int64_t to = std::min(window.end, at + static_cast<int64_t>(n)) - at;
    if (to > from && !resampler.Push(in.mono.data() + from, static_cast<size_t>(to - from))) {
      return *reason = Format("the scratch file cannot be written: %s", LastSystemError().c_str()), false;
    }
    if (facts->heard.on && to > from) facts->heard.Add(in.mono.data() + from, static_cast<size_t>(to - from));
    for (int64_t i = from; in.residue.On() && i < to; ++i) {
      facts->energy += in.mono[static_cast<size_t>(i)] * in.mono[static_cast<size_t>(i)];
      facts->residue += in.low[static_cast<size_t>(i)] * in.low[static_cast<size_t>(i)];
    }
  }
  *metered = levels != nullptr && in.done >= in.source.info.frames;
  if (!in.Finite(reason)) return false;
  facts->sourcePeak = in.peak;
  facts->filteredPeak = in.filteredPeak;
  facts->mixLossDb = in.source.MixLossDb();
  if (!resampler.Finish()) {
    return *reason = Format("the scratch file cannot be written: %s", LastSystemError().c_str()), false;
  }
  return std::fflush(stage) == 0 || (*reason = "the scratch file cannot be written", false);
}

// --- gain ---------------------------------------------------------------------------------

// The gain that brings the loudness to the target, held below the peak ceiling (without the
// limiter), and the loudness that ceiling lets the sound reach.
// A sound's own gain moves its loudness target; without a target it is taken as it stands.
void ChooseGain(const PreparationOptions& options, StageWriter& stage, PreparationRecord* record) {
  record->measured = stage.meter.Integrated(&record->loudnessBefore);
  const bool toTarget = options.loudness && record->measured;
  if (!toTarget && options.gainDb == 0) return;
  // On the 16-bit scale by a power of two, which leaves every bit of the figure as it was.
  const double peakDbfs = Dbfs(std::ldexp(static_cast<double>(stage.peak), 15 - kStageBits));
  const double ceiling = std::floor((kCeilingDbfs - peakDbfs) * 100) / 100;
  if (record->measured) record->reachLufs = record->loudnessBefore + ceiling;
  record->gainDb = Hundredths(toTarget ? options.TargetLufs() - record->loudnessBefore : options.gainDb);
  if (options.limit) return;  // the limiter holds the peaks instead
  if (record->gainDb > ceiling) {
    record->gainDb = ceiling;
    record->ceilingReached = true;
  }
}

int64_t GainFraction(double gainDb) {
  return std::llround(OnGrid(std::pow(10.0, gainDb / 20)) * std::ldexp(1.0, kGainBits));
}

// --- the prepared signal, the dither and the SNR ----------------------------------------

// xorshift32: the same noise on every machine, from the same seed for every sound.
struct Dither {
  uint32_t state = 0x2545F491u;
  int32_t step = 0;  // the quantiser's step on the 16-bit scale; 0: no dither

  int32_t Uniform() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<int32_t>((static_cast<uint64_t>(state) * static_cast<uint32_t>(step)) >> 32);
  }
  // Triangular noise over (-step, step): the difference of two uniform values. Drawn in two
  // statements, so that the order of the draws (and the image) is the same with every compiler;
  // this is the order g++ chose when the draws shared one expression.
  int32_t Apply(int32_t v) {
    if (step == 0) return v;
    const int32_t added = Uniform();
    const int32_t taken = Uniform();
    return LimitSample(v + added - taken);
  }
};

// The quantisers that drop bits of the 16-bit samples: PCM8 keeps the top byte, u-law's finest
// segment steps by 8.
int32_t DitherStep(int32_t kind) { return kind == KindPcm8 ? 256 : kind == KindUlaw ? 8 : 0; }

// Encodes the prepared blocks as the image will hold them (dithered, with the image's ADPCM
// search) and has the map's codec meter play them back as the chip does, against the prepared
// signal before the dither; the meter measures only the sound's own codec.
struct CodecCheck {
  CodecCheck(const SoundCodec* c, int adpcmQuality) : codec(c), meter(adpcmQuality, true) {
    StartAdpcmSearch(&state.adpcm, adpcmQuality);
  }
  const SoundCodec* codec;
  CodecState state;
  CodecMeter meter;
  std::vector<uint8_t> bytes;

  void Add(const int32_t* reference, const int32_t* input, size_t n, bool last) {
    if (codec == nullptr || codec->encode == nullptr) return;
    codec->encode(&state, input, n, last, &bytes);
    MeterCodecs(&meter, reference, n, last, {codec->kind, bytes.data(), bytes.size()});
  }

  // +infinity when the chip plays the prepared samples back exactly.
  double SnrDb() const {
    for (const CodecCost& cost : CodecCostsOf(meter)) {
      if (codec != nullptr && cost.kind == codec->kind) return cost.snrDb;
    }
    return HUGE_VAL;
  }
};

// libsndfile writes the kept copy into a scratch stream of ours, through these.
sf_count_t StreamLength(void* stream) {
  FILE* f = static_cast<FILE*>(stream);
  const long at = std::ftell(f);
  if (at < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(f);
  return std::fseek(f, at, SEEK_SET) == 0 ? end : -1;
}
sf_count_t StreamSeek(sf_count_t offset, int whence, void* stream) {
  FILE* f = static_cast<FILE*>(stream);
  return std::fseek(f, static_cast<long>(offset), whence) == 0 ? std::ftell(f) : -1;
}
sf_count_t StreamRead(void* data, sf_count_t count, void* stream) {
  return static_cast<sf_count_t>(std::fread(data, 1, static_cast<size_t>(count), static_cast<FILE*>(stream)));
}
sf_count_t StreamWrite(const void* data, sf_count_t count, void* stream) {
  return static_cast<sf_count_t>(std::fwrite(data, 1, static_cast<size_t>(count), static_cast<FILE*>(stream)));
}
sf_count_t StreamTell(void* stream) { return std::ftell(static_cast<FILE*>(stream)); }

SF_VIRTUAL_IO kScratchIo = {StreamLength, StreamSeek, StreamRead, StreamWrite, StreamTell};

// A listening copy is built beside its name and renamed onto it only when complete, as the
// image and the map are: a full disk or a failed run keeps the copy of an earlier run whole.
// Its name is ours, in the folder given for the copies, so a link found there is replaced by
// the copy, never written through to a file outside the folder.
struct SndfileWriter {
  OutputWriter out;
  SndfilePtr file;  // closed before out discards its scratch file
  std::string path;

  bool Open(const std::string& name, int32_t rate, std::string* reason) {
    path = name;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    std::string why;
    if (out.Open(path, AtLink::kReplace, &why)) file.reset(sf_open_virtual(&kScratchIo, SFM_WRITE, &info, out.Stream()));
    if (out.IsOpen() && !file) why = sf_strerror(nullptr);
    if (!file) *reason = Format("the prepared copy %s cannot be written: %s", path.c_str(), why.c_str());
    return static_cast<bool>(file);
  }
  bool Close(std::string* reason) {
    if (sf_close(file.release()) != 0) return *reason = "the prepared copy cannot be closed", false;
    std::string why;
    const bool renamed = out.Commit(&why);
    if (!renamed) *reason = Format("the prepared copy %s cannot be written: %s", path.c_str(), why.c_str());
    return renamed;
  }
};

// The stage's frames with the gain applied, on the 16-bit scale before the script's scale
// factor: in integer arithmetic rounded half up, or through the limiter with --limit.
struct GainedSignal {
  FILE* file;
  int64_t left;
  int64_t gain;
  std::unique_ptr<PeakLimiter> limiter;
  std::vector<int32_t> stage = std::vector<int32_t>(kBlock);
  std::vector<double> scaled = std::vector<double>(kBlock);
  int64_t clipped = 0;  // samples the 16-bit range cut

  GainedSignal(const PreparationOptions& options, FILE* f, int64_t frames, double gainDb, int32_t rate)
      : file(f), left(frames), gain(GainFraction(gainDb)) {
    if (options.limit) limiter = std::make_unique<PeakLimiter>(UsualLimiterSettings(options.limitDbfs, rate));
  }

  bool Rewind() { return std::fseek(file, 0, SEEK_SET) == 0; }

  // The next samples into *out (at least one until the end); *last with the final ones.
  bool Next(std::vector<int32_t>* out, bool* last) {
    out->clear();
    while (out->empty() && left > 0) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(left, kBlock));
      if (std::fread(stage.data(), sizeof(int32_t), n, file) != n) return false;
      left -= static_cast<int64_t>(n);
      if (limiter) {
        // Products in doubles: exact up to 53 bits, and beyond that rounded alike on every machine.
        for (size_t i = 0; i < n; ++i) scaled[i] = std::ldexp(static_cast<double>(stage[i]) * static_cast<double>(gain), -32);
        limiter->Push(scaled.data(), n, out);
        if (left == 0) limiter->Finish(out);
        continue;
      }
      for (size_t i = 0; i < n; ++i) {
        const int64_t v = (int64_t{stage[i]} * gain + (int64_t{1} << 31)) >> 32;
        if (v < -32768 || v > 32767) ++clipped;
        out->push_back(LimitSample(static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX))));
      }
    }
    *last = left == 0;
    return true;
  }
};

// With the limiter, the peaks it holds down take some loudness with them: the gain is raised
// until a trial pass measures the target, each step by the shortfall over the loudness the last
// step gained per dB. Where more gain hardly adds loudness (a sound already as dense as the
// ceiling allows), it would only squash the sound: the gain before stays.
constexpr int kLimiterTrials = 6;
constexpr double kLargestGainDb = 80;
constexpr double kLargestStepDb = 12;
constexpr double kLeastLoudnessPerDb = 0.1;

bool MeasureLimited(const PreparationOptions& options, FILE* stage, int64_t frames, double gainDb, int32_t rate,
                    bool* measured, double* lufs) {
  GainedSignal gained(options, stage, frames, gainDb, rate);
  if (!gained.Rewind()) return false;
  LoudnessMeter meter(rate);
  std::vector<int32_t> block;
  std::vector<double> values;
  for (bool last = false; !last;) {
    if (!gained.Next(&block, &last)) return false;
    values.assign(block.begin(), block.end());
    for (double& v : values) v /= 32768.0;
    meter.Add(values.data(), values.size());
  }
  *measured = meter.Integrated(lufs);
  return true;
}

bool CorrectLimitedGain(const PreparationOptions& options, FILE* stage, int64_t frames, PreparationRecord* record) {
  if (!options.limit || !options.loudness || !record->measured) return true;
  double previousGain = 0, previousAfter = 0, perDb = 1;
  for (int trial = 0; trial < kLimiterTrials; ++trial) {
    bool measured = false;
    double after = 0;
    if (!MeasureLimited(options, stage, frames, record->gainDb, record->playedRate, &measured, &after)) return false;
    if (!measured) return true;
    if (trial > 0 && record->gainDb != previousGain) {
      perDb = (after - previousAfter) / (record->gainDb - previousGain);
      if (perDb < kLeastLoudnessPerDb) {
        if (after < previousAfter + kLeastLoudnessPerDb) record->gainDb = previousGain;
        return true;
      }
    }
    const double shortfall = options.TargetLufs() - after;
    if (std::fabs(shortfall) < 0.05) return true;
    previousGain = record->gainDb, previousAfter = after;
    const double step = std::clamp(shortfall / perDb, -kLargestStepDb, kLargestStepDb);
    record->gainDb = std::min(kLargestGainDb, Hundredths(record->gainDb + step));
  }
  return true;
}

// The step that took the signal over full scale, for a note on the samples the 16-bit range cut.
const char* StepOverFullScale(const StageFacts& facts, const StageWriter& stage) {
  if (facts.sourcePeak > 1) return "the recording itself (its samples go past full scale)";
  if (facts.filteredPeak > 1) return "the high-pass filter";
  if (stage.peak > (int64_t{1} << kStageBits)) return "the resampler";
  return "the gain";
}

struct FinalPass {
  const PreparationJob& job;
  PreparationRecord* record;
  LoudnessMeter meter;
  Dither dither;
  bool roundPcm8;  // the dithered PCM8 samples go to the byte nearest, not toward zero
  CodecCheck check = CodecCheck(FindCodec(job.kind), job.adpcmQuality);
  SndfileWriter keep;
  int64_t peak = 0;
  int64_t clipped = 0;
  double limitedDb = 0;
  std::vector<int32_t> gained;
  std::vector<int32_t> prepared = std::vector<int32_t>(kBlock);
  std::vector<int32_t> encoded = std::vector<int32_t>(kBlock);
  std::vector<short> listening = std::vector<short>(kBlock);
  std::vector<uint8_t> raw = std::vector<uint8_t>(2 * kBlock);
  std::vector<double> measured = std::vector<double>(kBlock);
  // The samples as the scratch file holds them, gathered into the blocks the import reads them
  // back in, so that their levels are the very figures a read-back gives.
  std::vector<int32_t> stored;

  FinalPass(const PreparationJob& j, PreparationRecord* r) : job(j), record(r), meter(r->playedRate) {
    dither.step = job.options->dither ? DitherStep(job.kind) : 0;
    roundPcm8 = job.options->dither && job.kind == KindPcm8;
  }

  // The one point where the signal becomes 16-bit: the gained samples, then the script's scale
  // factor as every sound gets it.
  void Quantise(size_t n) {
    for (size_t i = 0; i < n; ++i) {
      const int32_t y = gained[i];
      prepared[i] = job.scale == 1.0 ? y : LimitSample(ScaleSample(y, job.scale));
      peak = std::max<int64_t>(peak, std::abs(prepared[i]));
      measured[i] = prepared[i] / 32768.0;
      listening[i] = static_cast<short>(prepared[i]);
      // Digital silence stays silent for every quantiser: dithered, a zero would become a
      // noise of a step (u-law's finest is 8). The draws are made either way, in order, so
      // that the other samples keep the noise they always had.
      encoded[i] = dither.Apply(prepared[i]);
      if (prepared[i] == 0) encoded[i] = 0;
      else if (roundPcm8) encoded[i] = Pcm8NearestInput(encoded[i]);
      raw[2 * i] = static_cast<uint8_t>(encoded[i]);
      raw[2 * i + 1] = static_cast<uint8_t>(static_cast<uint32_t>(encoded[i]) >> 8);
    }
  }

  bool Block(bool last, FILE* out, std::string* reason) {
    const size_t n = gained.size();
    if (prepared.size() < n) {
      for (auto* v : {&prepared, &encoded}) v->resize(n);
      listening.resize(n), raw.resize(2 * n), measured.resize(n);
    }
    Quantise(n);
    MeterStored(n);
    meter.Add(measured.data(), n);
    check.Add(prepared.data(), encoded.data(), n, last);
    const sf_count_t count = static_cast<sf_count_t>(n);
    if (keep.file && sf_write_short(keep.file.get(), listening.data(), count) != count) {
      // The copy goes through our own stream, so the system's reason is the one to give.
      return *reason = Format("the prepared copy %s cannot be written: %s", keep.path.c_str(),
                              LastSystemError().c_str()), false;
    }
    if (std::fwrite(raw.data(), 2, n, out) != n) {
      return *reason = Format("the scratch file cannot be written: %s", LastSystemError().c_str()), false;
    }
    return true;
  }

  void MeterStored(size_t n) {
    stored.reserve(kFramesPerBlock);
    for (size_t i = 0; i < n; ++i) {
      stored.push_back(static_cast<int16_t>(encoded[i]));
      if (stored.size() == kFramesPerBlock) FlushStored();
    }
  }
  void FlushStored() {
    if (!stored.empty()) MeterBlock(&record->preparedLevels, stored.data(), stored.size());
    stored.clear();
  }

  bool Run(const PreparationFiles& files, int64_t frames, std::string* reason) {
    if (!job.keepPath.empty() && !keep.Open(job.keepPath, record->playedRate, reason)) return false;
    GainedSignal signal(*job.options, files.stage, frames, record->gainDb, record->playedRate);
    if (!signal.Rewind() || std::fseek(files.prepared, 0, SEEK_END) != 0) {
      return *reason = "the scratch file cannot be positioned", false;
    }
    for (bool last = false; !last;) {
      if (!signal.Next(&gained, &last)) return *reason = "the scratch file cannot be read back", false;
      if (!Block(last, files.prepared, reason)) return false;
    }
    if (std::fflush(files.prepared) != 0) return *reason = "the scratch file cannot be written", false;
    if (keep.file && !keep.Close(reason)) return false;
    FlushStored();
    record->preparedMetered = true;
    clipped = signal.clipped;
    if (signal.limiter) limitedDb = signal.limiter->DeepestDb(), clipped += signal.limiter->Clipped();
    Summarise();
    return true;
  }

  void Summarise() {
    record->peakDbfs = Dbfs(static_cast<double>(peak));
    if (!meter.Integrated(&record->loudnessAfter)) record->loudnessAfter = -HUGE_VAL;
    const double snr = check.SnrDb();
    record->lossless = snr == HUGE_VAL;
    record->snrDb = record->lossless ? 0 : snr;
    record->limitedDb = limitedDb;
  }
};

// The notes of a prepared sound, in the order of the steps.
void NoteWhatTheStepsDid(const PreparationJob& job, const StageFacts& facts, const StageWriter& stage,
                         int64_t clipped, PreparationRecord* record) {
  const PreparationOptions& options = *job.options;
  if (facts.mixLossDb > kMixLossDb) {
    record->notes.push_back({std::isfinite(facts.mixLossDb)
        ? Format("its mix to mono is %.1f dB below its channels: they cancel each other out (one in opposite "
                 "phase?); mend the take or keep one channel", facts.mixLossDb)
        : std::string("its channels cancel each other out entirely: the mix to mono is silence; mend the take "
                      "(one channel is in opposite phase) or keep one channel")});
  }
  if (options.highpass && facts.energy > 0 && facts.residue > 0) {
    const double residueDb = 10 * std::log10(facts.residue / facts.energy);
    if (residueDb > -kResidueDb) {
      record->notes.push_back({Format("after --highpass %g:%d what lies below %.0f Hz is still %.1f dB under its "
                                      "RMS (within %.0f dB): raise the order or the frequency, or mend the take",
                                      options.highpassHz, options.highpassOrder, options.highpassHz * kResidueBelow,
                                      -residueDb, kResidueDb)});
    }
  }
  if (record->limitedDb < -kAudibleLimitingDb) {
    record->notes.push_back({Format("the limiter takes up to %.1f dB off its peaks; beyond %.0f dB that may be "
                                    "heard: a lower --loudness sounds cleaner", -record->limitedDb, kAudibleLimitingDb)});
  }
  if (clipped > 0) {
    record->notes.push_back({Format("%s took it over full scale: %lld samples were clipped at 16 bits; lower "
                                    "its level (--loudness) or give --limit",
                                    StepOverFullScale(facts, stage), static_cast<long long>(clipped)),
                             true});
  }
}

std::string Db(double v) { return std::isfinite(v) ? Format("%.2f", v) : std::string("-inf"); }

}  // namespace

bool ParsePreparationValues(const PreparationTexts& texts, PreparationOptions* options, std::string* error) {
  for (const ValueRule& rule : kValueRules) {
    const std::string& text = texts.*rule.text;
    if (text.empty()) continue;
    if (!ParseValue(rule, text, options, error)) return false;
    options->*rule.given = true;
  }
  return true;
}

bool MeasureLoudness(const std::vector<int32_t>& samples, int32_t rate, double* lufs) {
  LoudnessMeter meter(rate);
  std::vector<double> block;
  for (size_t at = 0; at < samples.size(); at += kBlock) {
    const size_t n = std::min(kBlock, samples.size() - at);
    block.resize(n);
    for (size_t i = 0; i < n; ++i) block[i] = samples[at + i] / 32768.0;
    meter.Add(block.data(), n);
  }
  return meter.Integrated(lufs);
}

std::string TrimLevelText(const PreparationOptions& options) {
  return options.trimFromPeak ? Format("peak%g", options.trimDbfs) : Format("%g dBFS", options.trimDbfs);
}

bool ApplySoundSettings(const SoundSettings& own, PreparationOptions* options, std::string* error) {
  const PreparationOptions defaults;
  for (const ValueRule& rule : kValueRules) {
    const std::string& text = own.texts.*rule.text;
    if (text.empty()) continue;
    options->*rule.given = text != "off";
    // A value of the sound's own replaces the default's whole: a trim without its hold has the usual one.
    if (rule.part != nullptr) options->*rule.part = defaults.*rule.part;
    if (options->*rule.given && !ParseValue(rule, text, options, error)) return false;
  }
  if (own.dither >= 0) options->dither = own.dither != 0;
  // Written so that a NaN fails it too: it would make every sample of the sound 0.
  if (!(own.gainDb >= -kSoundGainLimitDb && own.gainDb <= kSoundGainLimitDb)) {
    return *error = Format("gain %g %s: give %g to %g dB", own.gainDb,
                           std::isfinite(own.gainDb) ? "is out of range" : "is not a number", -kSoundGainLimitDb,
                           kSoundGainLimitDb), false;
  }
  options->gainDb = own.gainDb;
  return true;
}

bool ProbeSource(const std::string& path, SourceInfo* info, std::string* reason) {
  Source source;
  if (!source.Open(path, reason)) return false;
  info->format = FormatText(source.info.format);
  info->rate = source.info.samplerate;
  info->channels = source.info.channels;
  info->frames = source.info.frames;
  return true;
}

bool MeterSource(const std::string& path, LevelMeter* meter, std::string* reason) {
  Source source;
  if (!source.Open(path, reason)) return false;
  std::vector<double> mono(kBlock);
  SourceMeter levels{meter};
  for (size_t n; (n = source.ReadMono(mono.data())) > 0;) levels.Add(source, mono.data(), n);
  return true;
}

bool ReadSourceMono(const std::string& path, int64_t maxFrames, MonoSource* mono, std::string* reason) {
  Source source;
  if (!source.Open(path, reason)) return false;
  mono->rate = source.info.samplerate;
  mono->frames = source.info.frames;
  if (mono->frames > maxFrames) return true;
  mono->samples.reserve(static_cast<size_t>(mono->frames));
  std::vector<double> block(kBlock);
  for (size_t n; (n = source.ReadMono(block.data())) > 0;) {
    for (size_t i = 0; i < n; ++i) mono->samples.push_back(OnSixteenBitScale(block[i]));
  }
  return true;
}

bool PrepareSound(const PreparationJob& job, const PreparationFiles& files, PreparationRecord* record,
                  std::string* reason) {
  if (!ProbeSource(job.file, &record->source, reason)) return false;
  // The source's levels come from its first pass: the trim's when there is one, which reads it whole.
  record->sourceLevels = LevelMeter{}, record->preparedLevels = LevelMeter{};
  record->sourceMetered = record->preparedMetered = false;
  SourceMeter levels{&record->sourceLevels};
  Window window{0, record->source.frames};
  if (job.options->trim && !FindWindow(job, &window, &levels, &record->sourceMetered, reason)) return false;
  record->trimmedMs = (record->source.frames - (window.end - window.first)) * 1000 / record->source.rate;
  record->playedRate = job.rate > 0 ? job.rate : record->source.rate;
  StageWriter stage(files.stage, record->playedRate);
  StageFacts facts;
  SourceMeter* unmetered = record->sourceMetered ? nullptr : &levels;
  bool metered = false;
  if (!WriteStage(job, window, record->playedRate, files.stage, &stage, &facts, unmetered, &metered, reason)) return false;
  record->sourceMetered = record->sourceMetered || metered;
  if (facts.heard.Mean() > 0 && stage.heard.Mean() > 0) {
    record->bandLossDb = 10 * std::log10(facts.heard.Mean() / stage.heard.Mean());
  }
  const int64_t frames = stage.frames;
  if (frames < 1 || frames > INT32_MAX / 2) {
    return *reason = Format("it is too %s to be played at %d Hz", frames < 1 ? "short" : "long", record->playedRate), false;
  }
  ChooseGain(*job.options, stage, record);
  if (std::fseek(files.prepared, 0, SEEK_END) != 0) return *reason = "the scratch file cannot be positioned", false;
  record->offset = std::ftell(files.prepared);
  if (record->offset < 0) return *reason = "the scratch file cannot be positioned", false;
  record->frames = static_cast<uint32_t>(frames);
  if (!CorrectLimitedGain(*job.options, files.stage, frames, record)) {
    return *reason = "the scratch file cannot be read back", false;
  }
  FinalPass final(job, record);
  if (!final.Run(files, frames, reason)) return false;
  NoteWhatTheStepsDid(job, facts, stage, final.clipped, record);
  return true;
}

namespace {

std::string LoudnessText(const PreparationRecord& r) {
  return r.measured ? Format("%s -> %s LUFS", Db(r.loudnessBefore).c_str(), Db(r.loudnessAfter).c_str())
                    : std::string("not measurable");
}

std::string SnrText(const PreparationRecord& r) { return r.lossless ? "lossless" : Format("%.1f dB", r.snrDb); }

}  // namespace

const std::vector<std::string> kPreparationHeadings = {"prepared from", "played at", "gain", "loudness",
                                                       "peak", "trimmed", "SNR"};

std::vector<std::string> PreparationCells(const PreparationRecord& r) {
  return {Format("%s (%s, %d ch, %d Hz)", r.file.c_str(), r.source.format.c_str(), r.source.channels, r.source.rate),
          Format("%d Hz", r.playedRate),
          Format("%+.2f dB", r.gainDb),
          LoudnessText(r),
          Format("%s dBFS", Db(r.peakDbfs).c_str()),
          Format("%lld ms", static_cast<long long>(r.trimmedMs)),
          SnrText(r)};
}

std::string PreparationMapColumns(const PreparationRecord& r) {
  const std::string loudness = LoudnessText(r);
  const std::string limited = r.limitedDb < 0 ? Format(", limited %.2f dB at most", r.limitedDb) : "";
  return Format("      prepared from %s (%s, %d ch, %d Hz): played at %d Hz, gain %+.2f dB%s, loudness %s, "
                "peak %s dBFS, trimmed %lld ms, SNR %s\n",
                r.file.c_str(), r.source.format.c_str(), r.source.channels, r.source.rate, r.playedRate, r.gainDb,
                limited.c_str(), loudness.c_str(), Db(r.peakDbfs).c_str(), static_cast<long long>(r.trimmedMs),
                SnrText(r).c_str());
}
