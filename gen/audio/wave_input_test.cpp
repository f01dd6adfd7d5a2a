#include "audio/wave_input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_test_support.h"
#include "compile_state.h"
#include "result_codes.h"
#include "warnings.h"
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

// The header check as the import does it: a refusal's detail is kept for the reporter.
int CheckHeader(CompileState& s, FILE* f, const char* name, WaveHeader* header) {
  std::string detail;
  const int r = CheckWaveHeader(f, name, header, &detail);
  if (!detail.empty()) SetErrorDetail(s, "%s", detail.c_str());
  return r;
}

// Every sample from the file's position on, read in blocks of two frames so that conversions
// meet block ends.
int ReadBlocks(CompileState& s, FILE* f, const WaveHeader& header, std::vector<int32_t>* samples,
                SampleReader* reader) {
  int r = StartSamples(reader, f, header, 2);
  size_t n = 0;
  while (r == ErrNone && (r = ReadSampleBlock(reader, s.Scale, &n)) == ErrNone && n > 0) {
    const auto first = reader->samples.begin();
    samples->insert(samples->end(), first, first + static_cast<std::ptrdiff_t>(n));
  }
  return r;
}

// Header check and sample reading of a whole file, as the import does them.
int ReadAll(CompileState& s, const std::vector<uint8_t>& file, std::vector<int32_t>* samples,
            SampleReader* reader) {
  FILE* f = OpenBytes(file);
  int r = ErrNone;
  Captured([&] {
    WaveHeader header;
    r = CheckHeader(s, f, "tone.wav", &header);
    if (r == ErrNone) r = ReadBlocks(s, f, header, samples, reader);
  });
  std::fclose(f);
  return r;
}

class WaveInputTest : public testing::Test {
 protected:
  CompileState s;
};

// The detail the reporter would print on standard error beside a shown error; it is forgotten
// afterwards, as the reporter forgets it.
std::string PendingDetail(CompileState& s) {
  testing::internal::CaptureStderr();
  TakeErrorDetail(s, 0, true);
  std::fflush(stderr);
  const std::string printed = testing::internal::GetCapturedStderr();
  const std::string prefix = "qs71gen: error: ";
  if (printed.rfind(prefix, 0) != 0 || printed.back() != '\n') return printed;
  return printed.substr(prefix.size(), printed.size() - prefix.size() - 1);
}

// One chunk and, after an odd-sized body, its pad byte.
std::vector<uint8_t> Chunk(const char* id, std::vector<uint8_t> body) {
  std::vector<uint8_t> out(id, id + 4);
  const uint32_t size = static_cast<uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
  out.insert(out.end(), body.begin(), body.end());
  if (size % 2 != 0) out.push_back(0);
  return out;
}

// A RIFF file of the given form whose size field says 0, as recorders that stream to disk
// leave it.
std::vector<uint8_t> Riff(const char* form, std::initializer_list<std::vector<uint8_t>> chunks) {
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(form[i]));
  for (const std::vector<uint8_t>& c : chunks) out.insert(out.end(), c.begin(), c.end());
  return out;
}

// The body of a canonical format chunk (16 bytes), followed by extra bytes.
std::vector<uint8_t> FormatBody(const testwav::Format& format, std::vector<uint8_t> extra = {}) {
  std::vector<uint8_t> header = testwav::WavHeader(format, 0);
  std::vector<uint8_t> body(header.begin() + 20, header.begin() + 36);
  body.insert(body.end(), extra.begin(), extra.end());
  return body;
}

// What the header check and the sample reader make of a whole file.
struct Reading {
  int result = ErrNone;
  WaveHeader header;
  long dataAt = -1;  // where the header check left the file
  std::string out;
  std::vector<int32_t> samples;
};

Reading Read(CompileState& s, const std::vector<uint8_t>& file) {
  Reading reading;
  FILE* f = OpenBytes(file);
  reading.out = Captured([&] {
    reading.result = CheckHeader(s, f, "tone.wav", &reading.header);
    reading.dataAt = std::ftell(f);
    SampleReader reader;
    if (reading.result == ErrNone) {
      reading.result = ReadBlocks(s, f, reading.header, &reading.samples, &reader);
    }
  });
  std::fclose(f);
  return reading;
}

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
    s.Scale = c.scale;
    std::vector<int32_t> samples;
    SampleReader reader;
    ASSERT_EQ(ReadAll(s, Wav(c.bits, c.channels, c.data), &samples, &reader), ErrNone);
    EXPECT_EQ(reader.frames, c.expected.size());
    EXPECT_EQ(samples, c.expected);
  }
}

TEST_F(WaveInputTest, ChunkLayoutsReadLikeTheCanonicalFile) {
  const std::vector<int32_t> samples = {0, 1000, -1000, 32767, -32768, 5, -5};
  for (const testwav::Format& base : {testwav::Format{22050, 16, 1}, testwav::Format{8000, 8, 2}}) {
    SCOPED_TRACE(base.bits);
    const std::vector<uint8_t> canonical = testwav::EncodeWav(samples, base);
    const std::vector<uint8_t> data(canonical.begin() + 44, canonical.end());
    auto layout = [&](testwav::Layout l) {
      testwav::Format f = base;
      f.layout = l;
      return testwav::EncodeWav(samples, f);
    };
    const struct {
      const char* what;
      std::vector<uint8_t> file;
      long dataAt;
    } cases[] = {
        {"LIST chunk of odd size before the data", layout(testwav::Layout::List), 68},
        {"extensible format chunk", layout(testwav::Layout::Extensible), 68},
        {"JUNK before an 18-byte format chunk, RIFF size 0",
         Riff("WAVE", {Chunk("JUNK", std::vector<uint8_t>(27, 0)),
                       Chunk("fmt ", FormatBody(base, {0, 0})), Chunk("data", data)}),
         82},
    };
    s.WaveRate = 0;
    const Reading expected = Read(s, canonical);
    ASSERT_EQ(expected.result, ErrNone);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      s.WaveRate = 0;
      const Reading r = Read(s, c.file);
      EXPECT_EQ(r.result, ErrNone);
      EXPECT_EQ(PendingDetail(s), "");
      EXPECT_EQ(r.out, expected.out);
      EXPECT_EQ(r.dataAt, c.dataAt);
      EXPECT_EQ(r.header.channels, expected.header.channels);
      EXPECT_EQ(r.header.rate, expected.header.rate);
      EXPECT_EQ(r.header.bits, expected.header.bits);
      EXPECT_EQ(r.header.dataSize, expected.header.dataSize);
      EXPECT_EQ(r.samples, expected.samples);
    }
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

// A short file is refused from its length, before a sample is read, so that the import never
// begins a sound it cannot finish; a 44-byte file that announces 2 GB of stereo samples is
// refused before anything is allocated for it.
TEST_F(WaveInputTest, ShortDataIsAReadErrorBeforeAnySampleIsRead) {
  const struct {
    uint16_t bits, channels;
    size_t bytes;
    uint32_t announced;
  } cases[] = {{8, 1, 50, 100}, {16, 1, 50, 100}, {16, 2, 0, 0x7FFFFFFF}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.announced << " bytes");
    std::vector<int32_t> samples;
    SampleReader reader;
    const std::vector<uint8_t> file =
        Wav(c.bits, c.channels, std::vector<uint8_t>(c.bytes, 0x80), c.announced);
    EXPECT_EQ(ReadAll(s, file, &samples, &reader), ErrRead);
    EXPECT_TRUE(samples.empty());
    EXPECT_EQ(reader.samples.capacity(), 0u);
  }
}

TEST_F(WaveInputTest, RefusedHeadersPrintNothingAndKeepTheRate) {
  auto patched = [](size_t at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> file = Wav(16, 1, Le16({1, 2}));
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    return file;
  };
  auto extensible = [](uint16_t tag, uint16_t bits) {
    testwav::Format f{16000, bits, 1, tag, testwav::Layout::Extensible};
    return testwav::EncodeWav({1, 2}, f);
  };
  std::vector<uint8_t> header43 = testwav::WavHeader({16000, 16, 1}, 0);
  header43.pop_back();
  std::vector<uint8_t> unknownSubFormat = extensible(1, 16);
  unknownSubFormat[50] ^= 0xFF;
  const testwav::Format mono16{16000, 16, 1};
  const std::string damaged = "the file is damaged: export the sound again as a WAV file";
  const std::string notWave =
      "tone.wav: not a RIFF/WAVE file; save the sound as a WAV file with 8- or 16-bit PCM samples";
  const std::string noData =
      "tone.wav: no `data` chunk; the file is cut short or damaged: export the sound again";
  const std::string toPcm =
      "the chip tools read PCM samples only: "
      "convert with `sox tone.wav -e signed-integer -b 16 out.wav`";
  // What the preparation reads is refused with the option that reads it.
  const std::string prepared =
      "without a preparation option qs71gen reads only 8- or 16-bit PCM WAV, mono or stereo: add "
      "--resample (before the script name) to read this file and bring it to the rate its link "
      "plays at";
  const struct {
    const char* what;
    std::vector<uint8_t> file;
    std::string detail;
  } cases[] = {
      {"not RIFF", patched(0, {'R', 'I', 'F', 'X'}), notWave},
      {"RIFF of another form", patched(8, {'A', 'V', 'I', ' '}), notWave},
      {"file shorter than the RIFF header", {'R', 'I', 'F', 'F'}, notWave},
      {"no channels", patched(22, {0, 0}), "tone.wav: 0 channels; " + damaged},
      {"FLAC", {'f', 'L', 'a', 'C', 0, 0, 0, 0x22, 0x10, 0, 0x10, 0},
       "tone.wav: a FLAC file, not RIFF/WAVE; " + prepared},
      {"AIFF", {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F', 'F'},
       "tone.wav: an AIFF file, not RIFF/WAVE; " + prepared},
      {"three channels", patched(22, {3, 0}), "tone.wav: 3 channels; " + prepared},
      {"12-bit samples", patched(34, {12, 0}), "tone.wav: 12-bit samples; " + prepared},
      {"24-bit samples", patched(34, {24, 0}), "tone.wav: 24-bit samples; " + prepared},
      {"24-bit samples behind an extensible header", extensible(1, 24),
       "tone.wav: 24-bit samples; " + prepared},
      {"float samples", testwav::EncodeWav({1}, {16000, 32, 1, 3}),
       "tone.wav: 32-bit float samples; " + prepared},
      {"float samples behind an extensible header", extensible(3, 64),
       "tone.wav: 64-bit float samples; " + prepared},
      {"MS ADPCM", patched(20, {2, 0}), "tone.wav: compressed format 0x0002; " + toPcm},
      {"extensible header of an unknown sub-format", unknownSubFormat,
       "tone.wav: compressed format 0xFFFE; " + toPcm},
      {"format chunk of 14 bytes",
       Riff("WAVE", {Chunk("fmt ", std::vector<uint8_t>(14, 1)), Chunk("data", {})}),
       "tone.wav: `fmt ` chunk of 14 bytes, fewer than 16; " + damaged},
      {"samples without a format chunk", Riff("WAVE", {Chunk("data", {1, 2})}),
       "tone.wav: no `fmt ` chunk before the samples; " + damaged},
      {"samples before the format chunk",
       Riff("WAVE", {Chunk("data", {1, 2}), Chunk("fmt ", FormatBody(mono16))}),
       "tone.wav: no `fmt ` chunk before the samples; " + damaged},
      {"header of 43 bytes", header43, noData},
      {"format chunk cut short",
       Riff("WAVE", {std::vector<uint8_t>{'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0}}), noData},
      {"chunk claiming 4 GiB before the data",
       Riff("WAVE", {Chunk("fmt ", FormatBody(mono16)),
                     {'L', 'I', 'S', 'T', 0xFF, 0xFF, 0xFF, 0xFF}, Chunk("data", {1, 2})}),
       noData},
      {"data size of 2 GB", patched(40, {0, 0, 0, 0x80}),
       "tone.wav: `data` chunk of 2147483648 bytes, 2 GB or more; no chip holds such a sound and "
       "the header is likely damaged: export the sound again"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    s.WaveRate = 8000;
    FILE* f = OpenBytes(c.file);
    WaveHeader header;
    int r = 0;
    EXPECT_EQ(Captured([&] { r = CheckHeader(s, f, "tone.wav", &header); }), "");
    EXPECT_EQ(r, ErrWaveFile);
    EXPECT_EQ(PendingDetail(s), c.detail);
    EXPECT_EQ(s.WaveRate, 8000);
    std::fclose(f);
  }
}

TEST_F(WaveInputTest, HeaderGivesTheRateAndPrintsNothing) {
  for (uint32_t rate : {22050u, 16000u}) {
    FILE* f = OpenBytes(testwav::WavHeader({rate, 16, 1}, 0));
    WaveHeader header;
    EXPECT_EQ(Captured([&] { EXPECT_EQ(CheckHeader(s, f, "tone.wav", &header), ErrNone); }), "");
    EXPECT_EQ(header.rate, rate);
    EXPECT_EQ(std::ftell(f), 44);
    std::fclose(f);
  }
}

TEST_F(WaveInputTest, StartSamplesRefusesLayoutsTheHeaderCheckWouldRefuse) {
  FILE* f = OpenBytes({1, 2, 3, 4});
  for (const auto& [channels, bits] : {std::pair<uint16_t, uint16_t>{1, 24}, {3, 16}}) {
    WaveHeader header;
    header.channels = channels;
    header.bits = bits;
    header.dataSize = 3;
    SampleReader reader;
    EXPECT_EQ(StartSamples(&reader, f, header), ErrWaveFile) << channels << " " << bits;
  }
  std::fclose(f);
}

}  // namespace

// The edges of a data size against the bytes behind it; the whole files are run end to end.
TEST(DataSizeTest, ClassifiesDeclaredAgainstHeldBytes) {
  struct Row {
    uint32_t declared;
    int64_t held;
    uint32_t frameBytes;
    DataSizeKind kind;
  };
  const Row rows[] = {
      {100, 100, 2, DataSizeKind::Kept},
      {101, 100, 2, DataSizeKind::Kept},  // the odd byte is no frame: nothing is missing
      {102, 100, 2, DataSizeKind::CutShort},
      {100, -1, 2, DataSizeKind::Kept},  // length unknown: taken at its word
      {0x7FFFF000u, 20, 2, DataSizeKind::Streamed},
      {0xFFFFFFFFu, 20, 4, DataSizeKind::Streamed},
      {0x7FFFF000u, 0x7FFFF000, 2, DataSizeKind::Kept},  // a real size of that value
      {0x7FFFEFFEu, 20, 2, DataSizeKind::CutShort},      // near the placeholder is no placeholder
      {0, 20, 2, DataSizeKind::EmptyBeforeBytes},
      {0, 0, 2, DataSizeKind::Kept},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ClassifyDataSize({r.declared, r.held, r.frameBytes}), r.kind) << r.declared << " " << r.held;
  }
}
