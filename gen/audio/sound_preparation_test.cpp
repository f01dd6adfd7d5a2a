#include "audio/sound_preparation.h"

#include <numbers>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/audio_test_support.h"
#include "audio/pcm_encoders.h"
#include "audio/peak_limiter.h"
#include "audio/sound_codecs.h"
#include "audio/sound_measure.h"
#include "file_contents.h"
#include "process_runner.h"
#include "sound_decoders.h"
#include "sound_kinds.h"
#include "wav_writer.h"

namespace {


struct Prepared {
  bool ok = false;
  std::string reason;
  PreparationRecord record;
  std::vector<int16_t> samples;
};

// A file prepared alone with fresh scratch files.
Prepared PrepareFile(const std::string& path, const PreparationOptions& options, int32_t rate,
                     int32_t kind = KindPcm16, const std::string& keepPath = "") {
  PreparationFiles files{std::tmpfile(), std::tmpfile()};
  Prepared out;
  out.ok = PrepareSound({&options, path, kind, rate, 1.0, keepPath, 0}, files, &out.record, &out.reason);
  out.samples.resize(out.record.frames);
  std::fseek(files.prepared, static_cast<long>(out.record.offset), SEEK_SET);
  out.samples.resize(std::fread(out.samples.data(), 2, out.samples.size(), files.prepared));
  std::fclose(files.stage);
  std::fclose(files.prepared);
  return out;
}

// The file written by libsndfile, prepared.
Prepared Prepare(const std::string& name, const testwav::Signal& signal, uint32_t frames,
                 const testwav::Format& format, const std::string& container,
                 const PreparationOptions& options, int32_t rate, int32_t kind = KindPcm16,
                 const std::string& keepPath = "") {
  const std::string path = audiotest::TempPath(name);
  EXPECT_TRUE(testwav::WriteSoundFile(path, testwav::MakeSamples(signal, frames, format.rate), format, container));
  return PrepareFile(path, options, rate, kind, keepPath);
}

// A float WAV of the channels given, interleaved: channel c of frame i at i * channels + c.
std::string WriteFloatWav(const std::string& name, const std::vector<float>& interleaved, int channels, int rate) {
  const std::string path = audiotest::TempPath(name);
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(f, nullptr);
  const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
  EXPECT_EQ(sf_writef_float(f, interleaved.data(), frames), frames);
  sf_close(f);
  return path;
}

// A sine's amplitude at freq in x, by correlation over whole seconds.
double AmplitudeAt(const std::vector<double>& x, double freq, double rate) {
  double c = 0, q = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    c += x[i] * std::sin(2 * std::numbers::pi * freq * static_cast<double>(i) / rate);
    q += x[i] * std::cos(2 * std::numbers::pi * freq * static_cast<double>(i) / rate);
  }
  return 2 * std::hypot(c, q) / static_cast<double>(x.size());
}

std::string Notes(const PreparationRecord& record) {
  std::string all;
  for (const PreparationNote& note : record.notes) all += note.text + "\n";
  return all;
}

double Rms(const std::vector<int16_t>& x, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<double>(x[i]) * x[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

TEST(SoundPreparation, ValuesOutOfRangeAreRefusedWithTheirRange) {
  struct Row {
    PreparationTexts texts;
    const char* error;
  } rows[] = {
      {{"-16", "", "", ""}, ""},
      {{"0", "", "", ""}, "--loudness 0 is out of range: give -70 to -1 LUFS"},
      {{"", "loud", "", ""}, "--trim loud is not a number: give -120 to -1 dBFS"},
      {{"", "-50:5", "120:8", "-1"}, ""},
      {{"", "-50:x", "", ""}, "--trim -50:x is out of range: give the hold in ms after the colon as 0 to 1000"},
      {{"", "", "nan", ""}, "--highpass nan is not a number: give 1 to 4000 Hz"},
      {{"", "", "1e9", ""}, "--highpass 1e9 is out of range: give 1 to 4000 Hz"},
      {{"", "", "120:9", ""}, "--highpass 120:9 is out of range: give the order after the colon as 2 to 8"},
      {{"", "", "", "1"}, "--limit 1 is out of range: give -30 to 0 dBFS"},
      {{"", "peak-40", "", ""}, ""},
      {{"", "peak-40:30", "", ""}, ""},
      {{"", "peak-200", "", ""}, "--trim peak-200 is out of range: give peak-1 to peak-120, the dB under the sound's own peak"},
      {{"", "peak+3", "", ""}, "--trim peak+3 is out of range: give peak-1 to peak-120, the dB under the sound's own peak"},
      {{"", "peak", "", ""}, "--trim peak is not a number: give peak-1 to peak-120, the dB under the sound's own peak"},
      {{"", "peak-40:x", "", ""}, "--trim peak-40:x is out of range: give the hold in ms after the colon as 0 to 1000"},
  };
  for (const Row& row : rows) {
    PreparationOptions options;
    std::string error;
    const bool taken = ParsePreparationValues(row.texts, &options, &error);
    EXPECT_EQ(taken, error.empty()) << row.error;
    EXPECT_EQ(error, row.error);
  }
}

// A 24-bit stereo 44.1 kHz tone at 8 kHz: the exact length, the tone's level kept; the
// listening copy holds the very samples the encoder is given.
TEST(SoundPreparation, ResamplesToTheExactLength) {
  PreparationOptions options;
  options.resample = true;
  const std::string keep = audiotest::TempPath("tone24-prepared.wav");
  const Prepared p = Prepare("tone24.wav", {testwav::Shape::Sine, 440, 0, 0.5}, 44100,
                             {44100, 24, 2, 1}, "wav", options, 8000, KindPcm16, keep);
  ASSERT_TRUE(p.ok) << p.reason;
  EXPECT_EQ(p.record.frames, 8000u);
  EXPECT_EQ(p.record.source.format, "WAV 24-bit");
  EXPECT_EQ(p.record.source.channels, 2);
  EXPECT_NEAR(Rms(p.samples, 1000, 7000), 32767 * 0.5 / std::sqrt(2.0), 30);
  EXPECT_TRUE(p.record.lossless);
  SF_INFO info{};
  SNDFILE* copy = sf_open(keep.c_str(), SFM_READ, &info);
  ASSERT_NE(copy, nullptr);
  std::vector<short> kept(8001);
  kept.resize(static_cast<size_t>(sf_read_short(copy, kept.data(), 8001)));
  sf_close(copy);
  EXPECT_EQ(info.samplerate, 8000);
  EXPECT_EQ(std::vector<int16_t>(kept.begin(), kept.end()), p.samples);
}

TEST(SoundPreparation, LoudnessReachesTheTargetOrStopsAtTheCeiling) {
  struct Row {
    double amplitude;
    double target;
    bool ceiling;
  } rows[] = {{0.05, -20, false}, {0.5, -20, false}, {0.5, -3, true}};
  for (const Row& row : rows) {
    PreparationOptions options;
    options.loudness = true;
    options.loudnessLufs = row.target;
    const Prepared p = Prepare("level.flac", {testwav::Shape::Sine, 1000, 0, row.amplitude}, 32000,
                               {16000, 16, 1, 1}, "flac", options, 0);
    ASSERT_TRUE(p.ok) << p.reason;
    EXPECT_EQ(p.record.ceilingReached, row.ceiling) << row.amplitude;
    EXPECT_NEAR(p.record.loudnessAfter, row.ceiling ? p.record.loudnessAfter : row.target, 0.5) << row.amplitude;
    EXPECT_LE(p.record.peakDbfs, -0.99) << row.amplitude;
  }
}

// Half a second of silence around a second of tone: 10 ms kept on each side, also when a click
// in the last sample stays above the level (it lasts less than the hold).
TEST(SoundPreparation, TrimKeepsTenMillisecondsAroundTheSound) {
  for (const bool click : {false, true}) {
    PreparationOptions options;
    options.trim = true;
    options.trimDbfs = -50;
    testwav::Signal tone{testwav::Shape::Sine, 440, 0, 0.5};
    tone.padFrames = 8000;
    std::vector<int32_t> samples = testwav::MakeSamples(tone, 16000, 16000);
    if (click) samples.back() = 20000;
    const std::string path = audiotest::TempPath("take.wav");
    ASSERT_TRUE(testwav::WriteSoundFile(path, samples, {16000, 32, 1, 1}, "wav"));
    const Prepared p = PrepareFile(path, options, 0);
    ASSERT_TRUE(p.ok) << p.reason;
    EXPECT_NEAR(static_cast<double>(p.record.trimmedMs), 980, 2) << click;
    EXPECT_NEAR(p.record.frames, 16000 + 2 * 160, 4) << click;
  }
}

// One take at two levels 20 dB apart, a tone that fades out over 600 ms: trimmed at a level in
// dBFS the quiet one loses more of its fade; trimmed under each one's own peak, both lose alike.
TEST(SoundPreparation, TrimUnderThePeakTakesAlikeFromQuietAndLoudTakes) {
  struct Row {
    const char* trim;
    double spreadLow, spreadHigh;  // ms more trimmed from the quiet take
  } rows[] = {{"-50", 50, 400}, {"peak-40", -2, 2}, {"peak-40:30", -2, 2}};
  for (const Row& row : rows) {
    int64_t trimmed[2] = {};
    for (int loud = 0; loud < 2; ++loud) {
      std::vector<float> x(32000, 0.0f);
      const double amplitude = loud ? 0.5 : 0.05;
      for (size_t i = 8000; i < 24000; ++i) {
        const double t = static_cast<double>(i - 8000) / 16000;
        const double fade = t < 0.4 ? 1.0 : std::pow(10.0, -4 * (t - 0.4) / 0.6);  // 80 dB over 600 ms
        x[i] = static_cast<float>(amplitude * fade * std::sin(2 * std::numbers::pi * 440 * t));
      }
      PreparationTexts texts;
      texts.trim = row.trim;
      PreparationOptions options;
      std::string error;
      ASSERT_TRUE(ParsePreparationValues(texts, &options, &error)) << error;
      const Prepared p = PrepareFile(WriteFloatWav("fade.wav", x, 1, 16000), options, 0);
      ASSERT_TRUE(p.ok) << p.reason;
      trimmed[loud] = p.record.trimmedMs;
    }
    const double spread = static_cast<double>(trimmed[0] - trimmed[1]);
    EXPECT_GE(spread, row.spreadLow) << row.trim << ": " << trimmed[0] << " and " << trimmed[1] << " ms";
    EXPECT_LE(spread, row.spreadHigh) << row.trim << ": " << trimmed[0] << " and " << trimmed[1] << " ms";
  }
}

// A 40 + 55 Hz rumble under --highpass 120: the order sets how far it falls (the second order
// left it 15.6 dB down), and what is left is still most of the sound, which a note says. A tone
// above the cut-off passes without a note.
TEST(SoundPreparation, HighpassCutsByItsOrder) {
  struct Row {
    bool rumble;
    int order;
    double low, high;  // dB, of the output's RMS against the input's
  } rows[] = {{true, 2, -16.5, -14.5}, {true, 4, -40, -27}, {true, 8, -60, -40}, {false, 4, -0.2, 0.1}};
  for (const Row& row : rows) {
    std::vector<float> x(16000);
    for (size_t i = 0; i < x.size(); ++i) {
      const double t = static_cast<double>(i) / 16000;
      x[i] = static_cast<float>(row.rumble ? 0.25 * (std::sin(2 * std::numbers::pi * 40 * t) + std::sin(2 * std::numbers::pi * 55 * t))
                                           : 0.25 * std::sin(2 * std::numbers::pi * 1000 * t));
    }
    PreparationOptions options;
    options.highpass = true;
    options.highpassHz = 120;
    options.highpassOrder = row.order;
    const Prepared p = PrepareFile(WriteFloatWav("rumble.wav", x, 1, 16000), options, 0);
    ASSERT_TRUE(p.ok) << p.reason;
    const double db = 20 * std::log10(Rms(p.samples, 4000, 16000) / (32768 * (row.rumble ? 0.25 : 0.25 / std::sqrt(2.0))));
    EXPECT_GT(db, row.low) << row.order;
    EXPECT_LT(db, row.high) << row.order;
    EXPECT_EQ(Notes(p.record).find("after --highpass 120:") != std::string::npos, row.rumble) << Notes(p.record);
  }
}

TEST(SoundPreparation, BadInputsAreRefusedWithAReason) {
  struct Row {
    testwav::Shape shape;
    bool trim, highpass;
    const char* reason;
  } rows[] = {
      {testwav::Shape::Silence, true, false, "it is all silence"},
      {testwav::Shape::Sine, false, true, "--highpass 4000 Hz is out of range for its rate of 8000 Hz: give less than 4000 Hz"},
  };
  for (const Row& row : rows) {
    PreparationOptions options;
    options.trim = row.trim;
    options.trimDbfs = -60;
    options.highpass = row.highpass;
    options.highpassHz = 4000;
    const Prepared p = Prepare("bad.wav", {row.shape}, 800, {8000, 16, 1, 3}, "wav", options, 0);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.reason, row.reason);
  }
  PreparationRecord record;
  std::string reason;
  PreparationOptions options;
  EXPECT_FALSE(PrepareSound({&options, audiotest::TempPath("missing.flac"), KindAdpcm, 0, 1.0, "", 0},
                            {nullptr, nullptr}, &record, &reason));
  EXPECT_NE(reason.find("there is no such file"), std::string::npos) << reason;
}

// The dither makes the PCM8 noise independent of the signal; the SNR measures what the codec
// costs against the prepared signal.
TEST(SoundPreparation, CodecSnrAndDither) {
  struct Row {
    int32_t kind;
    bool dither;
    double low, high;
  } rows[] = {{KindPcm8, false, 35, 50}, {KindPcm8, true, 30, 45}, {KindAdpcm, false, 15, 40}, {KindUlaw, true, 30, 45}};
  for (const Row& row : rows) {
    PreparationOptions options;
    options.dither = row.dither;
    const Prepared p = Prepare("snr.wav", {testwav::Shape::Sine, 440, 0, 0.5}, 8000, {8000, 16, 1, 1}, "wav",
                               options, 0, row.kind);
    ASSERT_TRUE(p.ok) << p.reason;
    EXPECT_FALSE(p.record.lossless);
    EXPECT_GT(p.record.snrDb, row.low) << row.kind << row.dither;
    EXPECT_LT(p.record.snrDb, row.high) << row.kind << row.dither;
  }
}

// With --dither, what the chip plays of a quiet PCM8 sine keeps the sine's level (truncated
// toward zero it lost 15.7 dB at amplitude 100, 9.5 dB at 200); digital silence stays silent
// and is no error, whatever the codec.
TEST(SoundPreparation, DitherKeepsTheLevelAndTheSilence) {
  struct Row {
    int32_t kind;
    double amplitude;  // of 32768
  } rows[] = {{KindPcm8, 100}, {KindPcm8, 200}, {KindPcm8, 0}, {KindAdpcm, 0}, {KindUlaw, 0}, {KindPcm16, 0}};
  for (const Row& row : rows) {
    PreparationOptions options;
    options.dither = true;
    const testwav::Signal sine{row.amplitude > 0 ? testwav::Shape::Sine : testwav::Shape::Silence, 440, 0,
                               row.amplitude / 32767};
    const Prepared p = Prepare("quiet.wav", sine, 16000, {16000, 24, 1, 1}, "wav", options, 0, row.kind);
    ASSERT_TRUE(p.ok) << p.reason;
    std::vector<double> played(p.samples.size());
    for (size_t i = 0; i < played.size(); ++i) played[i] = static_cast<int8_t>(Pcm8Sample(p.samples[i])) * 256.0;
    if (row.amplitude == 0) {
      // What the chip plays, through the sound's own encoder and the image's tables: u-law's
      // dithered silence played +-8 before.
      EXPECT_EQ(Rms(p.samples, 0, p.samples.size()), 0) << row.kind;
      const SoundCodec* codec = FindCodec(row.kind);
      ASSERT_NE(codec, nullptr);
      CodecState state;
      std::vector<uint8_t> bytes;
      const std::vector<int32_t> input(p.samples.begin(), p.samples.end());
      codec->encode(&state, input.data(), input.size(), true, &bytes);
      for (int32_t v : DecodeKindRange(row.kind, bytes.data(), bytes.size(), ImageCodecTables())) {
        ASSERT_EQ(v, 0) << row.kind;
      }
      continue;
    }
    EXPECT_NEAR(20 * std::log10(AmplitudeAt(played, 440, 16000) / row.amplitude), 0, 1) << row.amplitude;
  }
}

// What a step did to the sound that the designer would not hear in the map: channels that cancel
// in the mix (they compiled to silence without a word), the resampler's overshoot of a
// full-scale square clipped at 16 bits.
TEST(SoundPreparation, StepsThatHarmTheSoundAreNoted) {
  struct Row {
    int channels;
    double right;  // the right channel, times the left
    bool square;
    int32_t rate;
    const char* note;
  } rows[] = {{2, 1.0, false, 0, nullptr},
              {2, -0.9, false, 0, "its mix to mono is 25.6 dB below its channels"},
              {2, -1.0, false, 0, "its channels cancel each other out entirely"},
              {1, 0, true, 8000, "the resampler took it over full scale: "}};
  for (const Row& row : rows) {
    std::vector<float> x;
    for (int i = 0; i < 44100; ++i) {
      const double s = std::sin(2 * std::numbers::pi * 440 * i / 44100.0);
      x.push_back(static_cast<float>(row.square ? (s >= 0 ? 1.0 : -1.0) : 0.5 * s));
      if (row.channels == 2) x.push_back(static_cast<float>(0.5 * s * row.right));
    }
    PreparationOptions options;
    options.resample = true;
    const Prepared p = PrepareFile(WriteFloatWav("steps.wav", x, row.channels, 44100), options, row.rate);
    ASSERT_TRUE(p.ok) << p.reason;
    if (row.note == nullptr) EXPECT_EQ(Notes(p.record), "");
    else EXPECT_NE(Notes(p.record).find(row.note), std::string::npos) << Notes(p.record);
  }
}

// A loud target through the limiter: reached within half a LU, no sample past the ceiling, and a
// signal under the ceiling comes out as it went in, only later by the look-ahead.
TEST(SoundPreparation, LimiterReachesALoudTargetUnderItsCeiling) {
  std::vector<float> x(32000);
  for (size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / 16000;
    x[i] = static_cast<float>(0.05 * std::sin(2 * std::numbers::pi * 300 * t) * (i % 4000 < 400 ? 10 : 1));
  }
  PreparationOptions options;
  options.loudness = true;
  options.loudnessLufs = -10;
  options.limit = true;
  options.limitDbfs = -1;
  const Prepared p = PrepareFile(WriteFloatWav("peaky.wav", x, 1, 16000), options, 0);
  ASSERT_TRUE(p.ok) << p.reason;
  EXPECT_NEAR(p.record.loudnessAfter, -10, 0.5);
  EXPECT_LE(p.record.peakDbfs, -1.0);
  EXPECT_LT(p.record.limitedDb, -6);

  PeakLimiter limiter(UsualLimiterSettings(-6, 8000));
  const double quiet[] = {100, -2000, 16000, 3};
  std::vector<int32_t> out;
  limiter.Push(quiet, 4, &out);
  limiter.Finish(&out);
  EXPECT_EQ(out, (std::vector<int32_t>{100, -2000, 16000, 3}));
}

// The listening copy is the sound as the encoder gets it: 16-bit mono at the rate played,
// every sample; compiled again without preparation, it gives the very same image.
TEST(SoundPreparation, TheListeningCopyCompilesToTheSameImage) {
  const std::filesystem::path folder = CleanScratchFolder(QS71_TEST_TMPDIR, "listening-copy");
  std::filesystem::create_directory(folder / "listen");
  ASSERT_TRUE(testwav::WriteSoundFile((folder / "take.flac").string(), testwav::MakeSamples({}, 44100, 44100),
                                      {44100, 24, 2, 1}, "flac"));
  const char* const scripts[][2] = {{"prepared.qs", "take.flac"}, {"again.qs", "listen/take.wav"}};
  for (const auto& [name, file] : scripts) {
    const std::string text = std::string(".GLOBAL $FILESIZE = 40000h\n.PCM16 take = \"") + file +
                             "\"\n.SECTION [1] $GROUPS = take(11025):0\n";
    ASSERT_TRUE(testwav::WriteFile((folder / name).string(), {text.begin(), text.end()}));
  }
  const auto prepared = testsupport::RunProcess(
      {QS71GEN_PATH, "--resample", "--loudness", "-18", "--keep-prepared", "listen", "prepared.qs", "prepared.bin"},
      {.folder = folder});
  ASSERT_EQ(prepared.exitCode, 0) << prepared.out << prepared.err;
  SF_INFO info{};
  SNDFILE* copy = sf_open((folder / "listen/take.wav").string().c_str(), SFM_READ, &info);
  ASSERT_NE(copy, nullptr);
  sf_close(copy);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.samplerate, 11130);  // the rate the chip plays a link at 11025 Hz
  EXPECT_EQ(info.frames, 11130);
  const auto again = testsupport::RunProcess({QS71GEN_PATH, "again.qs", "again.bin"}, {.folder = folder});
  ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
  const std::vector<uint8_t> image = ReadFileBytes(folder / "prepared.bin");
  EXPECT_EQ(image.size(), 0x40000u);
  EXPECT_TRUE(image == ReadFileBytes(folder / "again.bin"));
}

TEST(SoundPreparation, AdpcmPiecesDecodeAsTheWholeRange) {
  std::vector<uint8_t> bytes(64);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  const StoredCodecTables& tables = ImageTables();
  AdpcmPlayback playback;
  std::vector<int32_t> pieces(2 * bytes.size());
  DecodeAdpcmBlock(&playback, bytes.data(), 24, tables, pieces.data());
  DecodeAdpcmBlock(&playback, bytes.data() + 24, 40, tables, pieces.data() + 48);
  EXPECT_EQ(pieces, DecodeAdpcmRange(bytes.data(), bytes.size(), tables));
}

}  // namespace
