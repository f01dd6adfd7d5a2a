#include "audio/wave_input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_test_support.h"
#include "compile_state.h"
#include "script/diagnostics.h"
#include "wav_writer.h"

namespace {

using audiotest::Captured;
using audiotest::OpenBytes;

std::vector<uint8_t> Wav(uint16_t bits, uint16_t channels, const std::vector<uint8_t>& data,
                         uint32_t announced) {
  std::vector<uint8_t> file = testwav::WavHeader({16000, bits, channels}, announced);
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

std::vector<uint8_t> Wav(uint16_t bits, uint16_t channels, const std::vector<uint8_t>& data) {
  return Wav(bits, channels, data, static_cast<uint32_t>(data.size()));
}

std::vector<uint8_t> Le16(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  }
  return out;
}

// Header check and sample reading of a whole file, as the import does them.
int ReadAll(const std::vector<uint8_t>& file, SampleBuffer* buffer) {
  FILE* f = OpenBytes(file);
  int r = ErrNone;
  Captured([&] {
    WaveHeader header;
    r = CheckWaveHeader(f, &header);
    if (r == ErrNone) r = ReadSamples(buffer, f, header);
  });
  std::fclose(f);
  return r;
}

class WaveInputTest : public testing::Test {
 protected:
  void SetUp() override { ResetCompileState(); }
};

struct ConversionCase {
  const char* what;
  uint16_t bits;
  uint16_t channels;
  std::vector<uint8_t> data;
  double scale;
  std::vector<int32_t> expected;
};

TEST_F(WaveInputTest, ConvertsFramesToScaledMonoSamples) {
  const ConversionCase cases[] = {
      {"stereo mix truncates toward zero", 16, 2, Le16({3, -6}), 1.0, {-1}},
      {"8-bit is unsigned and widened by 256", 8, 1, {0, 255, 128}, 1.0, {-32768, 32512, 0}},
      {"8-bit stereo divides before widening", 8, 2, {0x7F, 0x80}, 1.0, {0}},
      {"16-bit mono is copied", 16, 1, Le16({-32768, 32767, 1}), 1.0, {-32768, 32767, 1}},
      {"scale limits to 16 bits", 16, 1, Le16({20000, -20000}), 2.0, {32767, -32768}},
      {"scale truncates toward zero", 16, 1, Le16({-3, 3}), 0.5, {-1, 1}},
      {"product beyond 32 bits becomes the minimum", 16, 1, Le16({30000, -30000}), 100000.0,
       {-32768, -32768}},
      {"odd data byte is no frame", 16, 1, {0x10, 0x00, 0x20, 0x00, 0x30, 0x00, 0x40}, 1.0,
       {16, 32, 48}},
  };
  for (const ConversionCase& c : cases) {
    SCOPED_TRACE(c.what);
    g_state.Scale = c.scale;
    SampleBuffer buffer;
    ASSERT_EQ(ReadAll(Wav(c.bits, c.channels, c.data), &buffer), ErrNone);
    EXPECT_EQ(buffer.count, static_cast<int32_t>(c.expected.size()));
    EXPECT_EQ(buffer.samples, c.expected);
  }
}

TEST_F(WaveInputTest, ScaleSampleMapsOutOfRangeProductsToTheMinimum) {
  EXPECT_EQ(ScaleSample(30000, 100000.0), INT32_MIN);
  EXPECT_EQ(ScaleSample(-30000, 100000.0), INT32_MIN);
  EXPECT_EQ(ScaleSample(32767, 65538.0), 2147483646);  // just inside the 32-bit range
  EXPECT_EQ(ScaleSample(32767, 65538.0001), INT32_MIN);  // just outside
  EXPECT_EQ(ScaleSample(-1, 2147483648.0), INT32_MIN);  // exactly the minimum, still in range
  EXPECT_EQ(ScaleSample(1, 2147483648.0), INT32_MIN);   // one past the maximum
  EXPECT_EQ(ScaleSample(-7, 0.5), -3);
}

TEST_F(WaveInputTest, FrameCountUsesWholeFramesOnly) {
  struct Case {
    uint16_t channels, bits;
    int32_t dataSize;
    uint32_t frames;
  };
  const Case cases[] = {{1, 16, 7, 3}, {2, 16, 4000, 1000}, {1, 8, 1001, 1001}, {2, 8, 5, 2}};
  for (const Case& c : cases) {
    WaveHeader h;
    h.channels = c.channels;
    h.bits = c.bits;
    h.dataSize = c.dataSize;
    EXPECT_EQ(WaveFrameCount(h), c.frames) << c.channels << "ch " << c.bits << "bit";
  }
}

TEST_F(WaveInputTest, ShortDataIsAReadErrorInBothWidths) {
  for (uint16_t bits : {8, 16}) {
    SCOPED_TRACE(bits);
    SampleBuffer buffer;
    const std::vector<uint8_t> data(50, 0x80);
    EXPECT_EQ(ReadAll(Wav(bits, 1, data, 100), &buffer), ErrRead);
    EXPECT_EQ(buffer.count, 0);
    EXPECT_TRUE(buffer.samples.empty());
  }
}

TEST_F(WaveInputTest, HugeAnnouncedSizeFailsBeforeAllocating) {
  // A 44-byte file that announces 2 GB of stereo samples: refused from its length alone.
  SampleBuffer buffer;
  EXPECT_EQ(ReadAll(Wav(16, 2, {}, 0x7FFFFFFF), &buffer), ErrRead);
  EXPECT_EQ(buffer.samples.capacity(), 0u);
}

TEST_F(WaveInputTest, RefusedHeadersPrintNothingAndKeepTheRate) {
  auto patched = [](size_t at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> file = Wav(16, 1, Le16({1, 2}));
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    return file;
  };
  std::vector<uint8_t> header43 = testwav::WavHeader({16000, 16, 1}, 0);
  header43.pop_back();
  const struct {
    const char* what;
    std::vector<uint8_t> file;
  } cases[] = {
      {"not RIFF", patched(0, {'R', 'I', 'F', 'X'})},
      {"no channels", patched(22, {0, 0})},
      {"three channels", patched(22, {3, 0})},
      {"12-bit samples", patched(34, {12, 0})},
      {"24-bit samples", patched(34, {24, 0})},
      {"data size of 2 GB", patched(40, {0, 0, 0, 0x80})},
      {"header of 43 bytes", header43},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_state.WaveRate = 8000;
    FILE* f = OpenBytes(c.file);
    WaveHeader header;
    int r = 0;
    EXPECT_EQ(Captured([&] { r = CheckWaveHeader(f, &header); }), "");
    EXPECT_EQ(r, ErrWaveFile);
    EXPECT_EQ(g_state.WaveRate, 8000);
    std::fclose(f);
  }
}

TEST_F(WaveInputTest, RateMessagesWarnOnlyWhenTheRateChanges) {
  std::string out;
  for (uint32_t rate : {22050u, 16000u, 16000u}) {
    FILE* f = OpenBytes(testwav::WavHeader({rate, 16, 1}, 0));
    WaveHeader header;
    out += Captured([&] { EXPECT_EQ(CheckWaveHeader(f, &header), ErrNone); });
    EXPECT_EQ(std::ftell(f), 44);
    std::fclose(f);
  }
  EXPECT_EQ(out,
            "Find Sample Rate 22050 Hz in wave.\n"
            "Find different Sample Rate 16000 Hz in wave!\n");
  EXPECT_EQ(g_state.WaveRate, 16000);
}

TEST_F(WaveInputTest, ReadSamplesRefusesWidthsTheHeaderCheckWouldRefuse) {
  FILE* f = OpenBytes({1, 2, 3, 4});
  WaveHeader header;
  header.channels = 1;
  header.bits = 24;
  header.dataSize = 3;
  SampleBuffer buffer;
  EXPECT_EQ(ReadSamples(&buffer, f, header), ErrWaveFile);
  std::fclose(f);
}

}  // namespace
