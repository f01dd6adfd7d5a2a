#include "audio/sound_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/audio_test_support.h"
#include "compile_state.h"
#include "result_codes.h"
#include "sound_kinds.h"
#include "wav_writer.h"

namespace {

using audiotest::Captured;
using audiotest::TempImage;

constexpr size_t kImageSize = 0x400;

// A 16-bit mono wave file of samples, open and checked up to its first sample, its reader
// started with blocks of blockFrames.
class OpenWave {
 public:
  OpenWave(const std::string& name, const std::vector<int32_t>& samples,
           uint32_t blockFrames = kFramesPerBlock)
      : path_(audiotest::WriteWav(name, samples)), file_(std::fopen(path_.c_str(), "rb")) {
    WaveHeader header;
    std::string detail;
    if (file_ != nullptr && CheckWaveHeader(file_, name.c_str(), &header, &detail) == ErrNone) {
      started_ = StartSamples(&reader_, file_, header, blockFrames);
    }
  }
  ~OpenWave() {
    if (file_ != nullptr) std::fclose(file_);
  }
  OpenWave(const OpenWave&) = delete;
  OpenWave& operator=(const OpenWave&) = delete;

  SampleReader* Reader() {
    EXPECT_EQ(started_, ErrNone);
    return &reader_;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  FILE* file_;
  SampleReader reader_;
  int started_ = ErrInternal;
};

class SoundOutputTest : public testing::Test {
 protected:
  // Stores the sound with its listing line captured.
  int Store(int32_t kind, SampleReader* reader, const SoundPlace& place, std::string* out) {
    const SoundCodec* codec = FindCodec(kind);
    EXPECT_NE(codec, nullptr);
    int r = -99;
    SoundPlace listed = place;
    listed.listing = out;
    out->clear();
    EXPECT_EQ(Captured([&] { r = StoreSound(ImageOf(s), *codec, reader, listed); }), "");
    return r;
  }

  std::vector<uint8_t> Blank() const { return std::vector<uint8_t>(kImageSize, 0xFF); }

  CompileState s;
  TempImage image_{s, kImageSize};
};

TEST_F(SoundOutputTest, WritesBytesAndListingLineAtSoundBasePlusStartMinusOffset) {
  const struct {
    int32_t kind;
    std::vector<int32_t> samples;
    SoundPlace place;
    const char* line;
    size_t position;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {KindAdpcm, {1000, 1000, 1000}, {0x100, 0x180, 0x20, 0x21, "Hello", "hi.wav"},
       "ADPCM Samples =        3 <Hello> : \"hi.wav\".\n", 0xA0, {0x77, 0x70}},
      {KindPcm8, {1000, -1024, 32767}, {8, 0x28, 0x20, 0x22, "Beep", "b.wav"},
       "PCM8  Samples =        3 <Beep> : \"b.wav\".\n", 0x40, {0x03, 0xFC, 0x7F}},
      {KindPcm16, {1000, -1024, 32767}, {8, 0x28, 0x20, 0x25, "Beep", "b.wav"},
       "PCM16 Samples =        3 <Beep> : \"b.wav\".\n", 0x40, {0xE8, 0x03, 0x00, 0xFC, 0xFF, 0x7F}},
      {KindUlaw, {0, 1000, -1000}, {0, 0x10, 0x20, 0x22, "Voice", "v.wav"},
       "u-law Samples =        3 <Voice> : \"v.wav\".\n", 0x30, {0x00, 0x31, 0xB1}},
      {KindAdpcm, {}, {0, 0, 0x10, 0x0F, "none", "z.wav"},
       "ADPCM Samples =        0 <none> : \"z.wav\".\n", 0x10, {}},
      {KindPcm16, {}, {0, 0, 5, 4, "e", "e.wav"}, "PCM16 Samples =        0 <e> : \"e.wav\".\n", 5, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TempImage image(s, kImageSize);
    OpenWave wave("out.wav", c.samples);
    std::string out;
    EXPECT_EQ(Store(c.kind, wave.Reader(), c.place, &out), ErrNone);
    EXPECT_EQ(out, c.line);
    std::vector<uint8_t> expected = Blank();
    std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(c.position));
    EXPECT_EQ(image.Bytes(), expected);
  }
}

// A wave file that changed between the passes shows up as one byte more or less than the range
// holds, on either side; for ADPCM odd and even counts share a byte count.
TEST_F(SoundOutputTest, CountNotFillingTheRangeWritesAndPrintsNothing) {
  const struct {
    int32_t kind;
    size_t samples;
    int32_t end;  // of a range that starts at 0x10
  } cases[] = {{KindAdpcm, 5, 0x11}, {KindAdpcm, 5, 0x13}, {KindPcm8, 4, 0x12}, {KindPcm8, 4, 0x14},
               {KindPcm16, 4, 0x16}, {KindPcm16, 4, 0x18}, {KindUlaw, 3, 0x11}, {KindUlaw, 3, 0x13}};
  for (const auto& c : cases) {
    OpenWave wave("changed.wav", std::vector<int32_t>(c.samples, 7));
    std::string out;
    EXPECT_EQ(Store(c.kind, wave.Reader(), {0, 0, 0x10, c.end, "s", "s.wav"}, &out), ErrInternal)
        << c.kind << " " << c.end;
    EXPECT_EQ(out, "");
  }
  EXPECT_EQ(image_.Bytes(), Blank());
}

TEST_F(SoundOutputTest, NegativePositionIsRefusedBeforeAnythingIsPrinted) {
  OpenWave wave("low.wav", {1, 2});
  std::string out;
  EXPECT_EQ(Store(KindAdpcm, wave.Reader(), {0x200, 0x100, 0, 0, "s", "s.wav"}, &out), ErrFilePosition);
  EXPECT_EQ(out, "");
  EXPECT_EQ(image_.Bytes(), Blank());
}

TEST_F(SoundOutputTest, Eq01RangeIsOnlyReserved) {
  OpenWave wave("eq.wav", {1, 2, 3});
  std::string out;
  EXPECT_EQ(Store(KindEq01, wave.Reader(), {0, 0, 0x10, 0x14, "q", "q.wav"}, &out), ErrNone);
  EXPECT_EQ(out, "");
  EXPECT_EQ(image_.Bytes(), Blank());
}

// Small blocks, one of them partial, give every kind the bytes of one block.
TEST_F(SoundOutputTest, BlocksJoinIntoTheBytesOfTheWholeSound) {
  const std::vector<int32_t> samples =
      testwav::MakeSamples({testwav::Shape::Sweep, 100, 6000, 0.9, 1}, 101, 16000);
  for (int32_t kind : {KindAdpcm, KindPcm8, KindPcm16, KindUlaw}) {
    SCOPED_TRACE(kind);
    const int32_t end = static_cast<int32_t>(FindCodec(kind)->bytes(samples.size())) - 1;
    std::vector<std::vector<uint8_t>> images;
    for (uint32_t block : {kFramesPerBlock, 8u, 3u}) {
      TempImage image(s, kImageSize);
      OpenWave wave("blocks.wav", samples, block);
      std::string out;
      EXPECT_EQ(Store(kind, wave.Reader(), {0, 0, 0, end, "b", "b.wav"}, &out), ErrNone) << block;
      images.push_back(image.Bytes());
    }
    EXPECT_NE(images[0], Blank());
    EXPECT_EQ(images[1], images[0]);
    EXPECT_EQ(images[2], images[0]);
  }
}

// A file cut short after its length was checked ends the sound in its second block: the first
// block's bytes must not stay behind as the start of a sound that passes for written.
TEST_F(SoundOutputTest, FileEndingMidwayLeavesNothingOfTheSound) {
  const uint32_t frames = 10000;
  OpenWave wave("shrinking.wav", std::vector<int32_t>(frames, 0x1234), 4096);
  SampleReader* reader = wave.Reader();
  std::filesystem::resize_file(wave.Path(), 44 + frames);  // 5000 frames are left
  TempImage image(s, 0x8000);
  std::string out;
  EXPECT_EQ(Store(KindPcm8, reader, {0, 0, 0x100, 0x100 + frames - 1, "s", "s.wav"}, &out), ErrRead);
  EXPECT_EQ(out, "PCM8  Samples =    10000 <s> : \"s.wav\".\n");
  EXPECT_EQ(image.Bytes(), std::vector<uint8_t>(0x8000, 0xFF));
}

}  // namespace
