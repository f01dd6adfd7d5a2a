// Sounds back from the bytes as the chip plays them: the WAV files written for them, and their
// names.

#include "sound_extract.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dump_result.h"
#include "file_contents.h"
#include "format_test_support.h"
#include "test_scratch.h"
#include "wav_output.h"

namespace {

constexpr int32_t kSize = 0x1000;

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
  auto image = imagetest::BlankImage(kSize);
  const int32_t base = imagetest::PutSections(
      image, {{1, {{0x03, 31, 0, 3}, {0x00, 31, 0, 9}, {0x04, 31, 4, 8}}}}, 1);
  imagetest::PutLe(image, base, 0xFFFE03E8, 4);  // PCM16 1000, -2
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
  auto image = imagetest::BlankImage(kSize);
  imagetest::PutSections(image, {{1, {{0x01, 31, 0, 3}}}}, 1);
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
