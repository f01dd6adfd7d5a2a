// Round trips through what an image stores: sounds imported into an image laid out by
// AddVolMap, decoded with the step and expansion tables read back from that image's system
// area, and compared with their source by signal-to-noise ratio; and the encoders against the
// chip's decoders code for code.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "audio/adpcm_encoder.h"
#include "audio/audio_test_support.h"
#include "audio/pcm_encoders.h"
#include "audio/sound_import.h"
#include "codec_decoders.h"
#include "compile_state.h"
#include "format_test_support.h"
#include "image/image_skeleton.h"
#include "image_layout.h"
#include "name_tables.h"
#include "result_codes.h"
#include "sound_decoders.h"
#include "sound_kinds.h"
#include "wav_writer.h"

namespace {

using audiotest::Captured;
using audiotest::TempImage;
using testwav::Shape;

constexpr int32_t kFileSize = 0x40000;
constexpr uint32_t kRate = 16000;
constexpr uint32_t kFrames = 16000;

struct RoundTrip {
  const char* name;
  testwav::Signal signal;
  int32_t kind;
  double floorDb;  // a few dB below what was measured when the codec was written
};

// Measured when the encoders were written (16 kHz, 16000 frames, half of full scale): ADPCM
// sine 32.2, sweep 18.9 (100 Hz to 6 kHz), noise 15.5 dB; u-law sine
// 36.5, sweep 36.7, noise 38.0 dB. The floors sit 2 to 3 dB below.
const RoundTrip kRoundTrips[] = {
    {"AdpcmSine", {Shape::Sine, 440, 0, 0.5, 1}, KindAdpcm, 30.0},
    {"AdpcmSweep", {Shape::Sweep, 100, 6000, 0.5, 1}, KindAdpcm, 16.0},
    {"AdpcmNoise", {Shape::Noise, 0, 0, 0.5, 11}, KindAdpcm, 13.0},
    {"UlawSine", {Shape::Sine, 440, 0, 0.5, 1}, KindUlaw, 34.0},
    {"UlawSweep", {Shape::Sweep, 100, 6000, 0.5, 1}, KindUlaw, 34.0},
    {"UlawNoise", {Shape::Noise, 0, 0, 0.5, 11}, KindUlaw, 35.0},
};

class CodecRoundTripTest : public testing::Test {
 protected:
  CodecRoundTripTest() {
    FreeNames(s);
    s.FileSize = kFileSize;
  }
  ~CodecRoundTripTest() override { FreeNames(s); }

  CompileState s;
  TempImage image_{s, 0};
};

std::vector<int32_t> Decode(const RoundTrip& trip, const std::vector<uint8_t>& image, int32_t position) {
  const uint8_t* data = image.data() + position;
  if (trip.kind == KindAdpcm) {
    const auto steps = testcodec::ReadLe16Table(image.data() + AdpcmStart(kFileSize), 89);
    return testcodec::DecodeImaAdpcm(data, kFrames, steps);
  }
  const auto expansion = testcodec::ReadLe16Table(image.data() + SystemAreaStart(kFileSize), 128);
  return testcodec::DecodeUlaw(data, kFrames, expansion);
}

TEST_F(CodecRoundTripTest, DecodedSoundsMeetTheirFloors) {
  std::vector<std::vector<int32_t>> sources;
  for (const RoundTrip& trip : kRoundTrips) {
    sources.push_back(testwav::MakeSamples(trip.signal, kFrames, kRate));
    const std::string path = audiotest::WriteWav(std::string(trip.name) + ".wav", sources.back());
    const std::string literal = "\"" + path + "\"";
    Captured([&] { ASSERT_EQ(DefineSound(s, trip.name, literal.c_str(), trip.kind, 0), ErrNone); });
  }
  Captured([&] { ASSERT_EQ(AddVolMap(s), ErrNone); });
  for (const RoundTrip& trip : kRoundTrips) {
    std::string listing;
    Captured([&] { ASSERT_EQ(ImportSound(s, trip.name, &listing), ErrNone); });
  }
  const std::vector<uint8_t> image = image_.Bytes();
  ASSERT_EQ(image.size(), static_cast<size_t>(kFileSize));
  for (size_t i = 0; i < std::size(kRoundTrips); ++i) {
    const RoundTrip& trip = kRoundTrips[i];
    const int32_t position = s.SoundBase + FindSound(s, trip.name)->start - s.Offset;
    const double snr = testcodec::SnrDb(sources[i], Decode(trip, image, position));
    std::printf("[ SNR      ] %-10s %6.1f dB (floor %.1f)\n", trip.name, snr, trip.floorDb);
    EXPECT_GE(snr, trip.floorDb) << trip.name;
  }
}

// The decoders below take their tables from a blank image of this size.
constexpr int32_t kSize = 0x1000;

std::vector<int32_t> Noise(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int32_t> sample(-32768, 32767);
  std::vector<int32_t> out(n);
  for (int32_t& v : out) v = sample(random);
  return out;
}

using imagetest::TablesOf;

// The encoder tracks the chip's predictor; the decoder must land on it sample for sample.
TEST(Decoders, AdpcmPlaysWhatTheEncoderPredicted) {
  CompileState s;
  const std::vector<int32_t> source = Noise(4000, 7);
  AdpcmState state;
  std::vector<int32_t> predicted;
  for (int32_t s : source) {
    AdpcmEncodeStep(&state, s);
    predicted.push_back(state.predictor);
  }
  std::vector<uint8_t> stream(AdpcmBytes(source.size()));
  AdpcmState fresh;
  EncodeAdpcmBlock(&fresh, source.data(), source.size(), stream.data());
  const auto image = imagetest::BlankImage(kSize);
  EXPECT_EQ(DecodeAdpcmRange(stream.data(), stream.size(), TablesOf(image)), predicted);
}

TEST(Decoders, UlawExpansionInvertsTheEncoderForEveryCode) {
  const auto tables = TablesOf(imagetest::BlankImage(kSize));
  for (int code = 0; code < 256; ++code) {
    if (code == 0x80) continue;  // minus zero: the encoder writes 0x00 for it
    const uint8_t c = static_cast<uint8_t>(code);
    const std::vector<int32_t> decoded = DecodeUlawRange(&c, 1, tables);
    EXPECT_EQ(UlawEncodeSample(decoded[0]), c) << code;
  }
}

TEST(Decoders, PcmComesBackAsStored) {
  CompileState s;
  const std::vector<int32_t> source = Noise(1000, 3);
  std::vector<uint8_t> pcm16(2 * source.size());
  EncodePcm16Block(source.data(), source.size(), pcm16.data());
  EXPECT_EQ(DecodePcm16Range(pcm16.data(), pcm16.size()), source);
  std::vector<uint8_t> pcm8(source.size());
  EncodePcm8Block(source.data(), source.size(), pcm8.data());
  const std::vector<int32_t> decoded = DecodePcm8Range(pcm8.data(), pcm8.size());
  for (size_t i = 0; i < source.size(); ++i) EXPECT_LT(std::abs(decoded[i] - source[i]), 256);
}

}  // namespace
