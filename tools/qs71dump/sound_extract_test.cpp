// Sounds back from the bytes as the chip plays them: the decoders against the generator's
// encoders and against the tables stored in the image, the WAV files written for them, and
// their names.

#include "sound_extract.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "audio/adpcm_encoder.h"
#include "audio/sound_decoders.h"
#include "audio/pcm_encoders.h"
#include "audio/ulaw_encoder.h"
#include "file_contents.h"
#include "dump_result.h"
#include "dump_test_support.h"
#include "wav_output.h"
#include "test_scratch.h"

namespace {

constexpr int32_t kSize = 0x1000;

std::vector<int32_t> Noise(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int32_t> sample(-32768, 32767);
  std::vector<int32_t> out(n);
  for (int32_t& s : out) s = sample(random);
  return out;
}

StoredCodecTables TablesOf(const std::vector<uint8_t>& image) {
  return ReadStoredCodecTables(image.data() + SystemAreaStart(kSize));
}

// The encoder tracks the chip's predictor; the decoder must land on it sample for sample.
TEST(Decoders, AdpcmPlaysWhatTheEncoderPredicted) {
  const std::vector<int32_t> source = Noise(4000, 7);
  AdpcmState state;
  std::vector<int32_t> predicted;
  for (int32_t s : source) {
    AdpcmEncodeStep(&state, s);
    predicted.push_back(state.predictor);
  }
  const std::vector<uint8_t> stream = EncodeAdpcmStream(source.data(), source.size());
  const auto image = dumptest::BlankImage(kSize);
  EXPECT_EQ(DecodeAdpcmRange(stream.data(), stream.size(), TablesOf(image)), predicted);
}

TEST(Decoders, AdpcmStepsWithTheTableTheImageStores) {
  auto image = dumptest::BlankImage(kSize);
  dumptest::PutLe(image, AdpcmStart(kSize), 100, 2);  // step 0: 7 -> 100
  const uint8_t code77 = 0x70;
  // Code 7 from step 100: 100 / 8 + 100 + 50 + 25; then index 8, step 16, code 0 adds 2.
  EXPECT_EQ(DecodeAdpcmRange(&code77, 1, TablesOf(image)), (std::vector<int32_t>{187, 189}));
}

TEST(Decoders, UlawExpansionInvertsTheEncoderForEveryCode) {
  const auto tables = TablesOf(dumptest::BlankImage(kSize));
  for (int code = 0; code < 256; ++code) {
    if (code == 0x80) continue;  // minus zero: the encoder writes 0x00 for it
    const uint8_t c = static_cast<uint8_t>(code);
    const std::vector<int32_t> decoded = DecodeUlawRange(&c, 1, tables);
    EXPECT_EQ(UlawEncodeSample(decoded[0]), c) << code;
  }
}

TEST(Decoders, PcmComesBackAsStored) {
  const std::vector<int32_t> source = Noise(1000, 3);
  const auto pcm16 = EncodePcm16Stream(source.data(), source.size());
  EXPECT_EQ(DecodePcm16Range(pcm16.data(), pcm16.size()), source);
  const auto pcm8 = EncodePcm8Stream(source.data(), source.size());
  const std::vector<int32_t> decoded = DecodePcm8Range(pcm8.data(), pcm8.size());
  for (size_t i = 0; i < source.size(); ++i) EXPECT_LT(std::abs(decoded[i] - source[i]), 256);
}

TEST(WavOutput, HeaderAndSamplesAreCanonical) {
  const WavFormat format{8000, 8};
  const std::vector<uint8_t> header = WavHeaderBytes(format, 3);
  const std::vector<uint8_t> expected = {'R', 'I', 'F',  'F',  39,  0,   0,    0,    'W', 'A', 'V',
                                         'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                         1,   0,   0x40, 0x1F, 0,   0,   0x40, 0x1F, 0,   0,   1,
                                         0,   8,   0,    'd',  'a', 't', 'a',  3,    0,   0,   0};
  EXPECT_EQ(header, expected);
  EXPECT_EQ(WavSampleBytes(format, {-32768, 0, 32512}), (std::vector<uint8_t>{0x00, 0x80, 0xFF}));
  EXPECT_EQ(WavSampleBytes({8000, 16}, {-2, 40000}),
            (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(WavHeaderBytes({16000, 16}, 5)[40], 10);
}

TEST(ExtractSounds, WritesOneFilePerSoundAndSkipsEq01) {
  auto image = dumptest::BlankImage(kSize);
  const int32_t base = dumptest::PutSections(
      image, {{1, {{0x03, 31, 0, 3}, {0x00, 31, 0, 9}, {0x04, 31, 4, 8}}}}, 1);
  dumptest::PutLe(image, base, 0xFFFE03E8, 4);  // PCM16 1000, -2
  ImageMap map;
  std::string problem;
  ASSERT_EQ(BuildImageMap(image, DumpSettings{}, &map, &problem), DumpOk) << problem;
  const std::filesystem::path dir = ScratchFolder(QS71_TEST_TMPDIR, "extract");
  std::filesystem::remove_all(dir);
  std::string listing;
  ASSERT_EQ(ExtractSounds(image, map, dir.string(), &listing, &problem), DumpOk) << problem;
  const auto pcm16 = ReadFileBytes(dir / Format("001_pcm16_%06X.wav", base));
  ASSERT_EQ(pcm16.size(), 48u);
  EXPECT_EQ(std::vector<uint8_t>(pcm16.begin() + 44, pcm16.end()),
            (std::vector<uint8_t>{0xE8, 0x03, 0xFE, 0xFF}));
  EXPECT_EQ(pcm16[24], 0x80);  // 16000 Hz = 0x3E80 at divider 31
  EXPECT_EQ(pcm16[25], 0x3E);
  const auto silence = ReadFileBytes(dir / Format("002_silence_%06X.wav", base));
  EXPECT_EQ(silence.size(), 44u + 20u);
  EXPECT_NE(listing.find("#3 EQ01    not extracted"), std::string::npos) << listing;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);
}

TEST(ExtractSounds, AnUnwritableFolderIsAnError) {
  auto image = dumptest::BlankImage(kSize);
  dumptest::PutSections(image, {{1, {{0x01, 31, 0, 3}}}}, 1);
  ImageMap map;
  std::string problem;
  ASSERT_EQ(BuildImageMap(image, DumpSettings{}, &map, &problem), DumpOk);
  const std::filesystem::path file = ScratchFolder(QS71_TEST_TMPDIR, "file") / "not_a_folder";
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << "x";
  std::string listing;
  EXPECT_EQ(ExtractSounds(image, map, (file / "sub").string(), &listing, &problem),
            DumpWriteFailed);
}

}  // namespace
