// Round trips through what an image stores: sounds imported into an image laid out by
// AddVolMap, decoded with the step and expansion tables read back from that image's system
// area, and compared with their source by signal-to-noise ratio.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "audio/audio_test_support.h"
#include "audio/sound_import.h"
#include "codec_decoders.h"
#include "compile_state.h"
#include "image/image_layout.h"
#include "script/diagnostics.h"
#include "script/name_tables.h"
#include "script/sound_kinds.h"
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
    FreeNames();
    g_state.FileSize = kFileSize;
  }
  ~CodecRoundTripTest() override { FreeNames(); }

  audiotest::FreshState state_;
  TempImage image_{0};
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
    Captured([&] { ASSERT_EQ(DefineSound(trip.name, literal.c_str(), trip.kind, 0), ErrNone); });
  }
  Captured([] { ASSERT_EQ(AddVolMap(), ErrNone); });
  for (const RoundTrip& trip : kRoundTrips) {
    Captured([&] { ASSERT_EQ(ImportSound(trip.name), ErrNone); });
  }
  const std::vector<uint8_t> image = image_.Bytes();
  ASSERT_EQ(image.size(), static_cast<size_t>(kFileSize));
  for (size_t i = 0; i < std::size(kRoundTrips); ++i) {
    const RoundTrip& trip = kRoundTrips[i];
    const int32_t position = g_state.SoundBase + FindSound(trip.name)->start - g_state.Offset;
    const double snr = testcodec::SnrDb(sources[i], Decode(trip, image, position));
    std::printf("[ SNR      ] %-10s %6.1f dB (floor %.1f)\n", trip.name, snr, trip.floorDb);
    EXPECT_GE(snr, trip.floorDb) << trip.name;
  }
}

}  // namespace
