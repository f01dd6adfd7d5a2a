#include "audio/sound_import.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "audio/audio_test_support.h"
#include "compile_state.h"
#include "name_tables.h"
#include "result_codes.h"
#include "sound_kinds.h"
#include "wav_writer.h"

namespace {

using audiotest::Captured;
using audiotest::TempImage;
using audiotest::TempPath;
using audiotest::WriteWav;

constexpr size_t kImageSize = 0x10000;

std::vector<int32_t> Ramp(uint32_t n) {
  return testwav::MakeSamples({testwav::Shape::Ramp, 0, 0, 0.9, 1}, n, 16000);
}

class SoundImportTest : public testing::Test {
 protected:
  SoundImportTest() {
    FreeNames(s);
    s.FileSize = static_cast<int32_t>(kImageSize);
    s.SoundBase = 0x100;
  }
  ~SoundImportTest() override { FreeNames(s); }

  // Pass 1 of a sound statement: define it at relative start `start`.
  void Define(const char* name, const std::string& path, int32_t kind, int32_t start) {
    s.NextSoundStart = start;
    const std::string literal = "\"" + path + "\"";
    Captured([&] { EXPECT_EQ(DefineSound(s, name, literal.c_str(), kind, 0), ErrNone); });
  }

  // Pass 2: the import, with its printed lines.
  int Import(const char* name, std::string* out) {
    int r = 0;
    const size_t filesBefore = audiotest::OpenFileCount();
    std::string listing;
    EXPECT_EQ(Captured([&] { r = ImportSound(s, name, &listing); }), "");
    *out = listing;
    EXPECT_EQ(s.Wave, nullptr);
    EXPECT_EQ(audiotest::OpenFileCount(), filesBefore) << "a wave file was left open";
    return r;
  }

  std::vector<uint8_t> Blank() const { return std::vector<uint8_t>(kImageSize, 0xFF); }

  CompileState s;
  TempImage image_{s, kImageSize};
};

TEST_F(SoundImportTest, RampDecRecordsItsPlaceAndDivider) {
  const struct {
    int32_t offset;
    const char* message;
    std::vector<uint8_t> word;
    size_t dataPos;
  } cases[] = {
      {0, "******* RampDec: start from 002100h to 0030ffh in 64000 Hz.\n", {0x07, 0x00, 0x21, 0x00}, 0x2100},
      {0x100, "******* RampDec: start from 002000h to 002fffh in 64000 Hz.\n", {0x07, 0x00, 0x20, 0x00}, 0x2000},
  };
  const std::vector<int32_t> samples = Ramp(2048);
  const std::string path = WriteWav("rampdec.wav", samples);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    TempImage image(s, kImageSize);
    FreeNames(s);
    s.RampDecDone = 0;
    s.Offset = c.offset;
    Define("rampdec", path, KindPcm16, 0x2000);
    std::string out;
    ASSERT_EQ(Import("RAMPDEC", &out), ErrNone);
    EXPECT_EQ(out, std::string(c.message) + "PCM16 Samples =     2048 <rampdec> : \"" + path + "\".\n");
    EXPECT_EQ(image.Bytes(8, 4), c.word);
    EXPECT_EQ(image.Bytes(12, 4), std::vector<uint8_t>(4, 0xFF));
    EXPECT_EQ(s.RampDecDone, 1);
    EXPECT_EQ(s.RampIncDone, 0);
    const std::vector<uint8_t> data = image.Bytes(c.dataPos, 4);
    EXPECT_EQ(data[0] | (data[1] << 8), samples[0] & 0xFFFF);
  }
}

TEST_F(SoundImportTest, RampIncGoesToTheSecondHeaderWord) {
  Define("RampInc", WriteWav("rampinc.wav", Ramp(16)), KindPcm16, 0);
  s.Ramp_Rate = 48000;
  std::string out;
  ASSERT_EQ(Import("rampinc", &out), ErrNone);
  EXPECT_EQ(out.substr(0, out.find('\n') + 1), "******* RampInc: start from 000100h to 00011fh in 48000 Hz.\n");
  EXPECT_EQ(image_.Bytes(12, 4), (std::vector<uint8_t>{0x0A, 0x00, 0x01, 0x00}));
  EXPECT_EQ(s.RampIncDone, 1);
}

TEST_F(SoundImportTest, RampWordHoldsPositionsOfTheFirst16MiBOnly) {
  const struct {
    int32_t position;
    int result;
    uint32_t word;
  } cases[] = {
      {0, ErrNone, 0x07u},
      {0x234567, ErrNone, 0x23456707u},
      {0xFFFFFF, ErrNone, 0xFFFFFF07u},
      {0x1000000, ErrRampPosition, 0},
      {0x01234567, ErrRampPosition, 0},
      {-1, ErrRampPosition, 0},
      {INT32_MIN, ErrRampPosition, 0},
  };
  for (const auto& c : cases) {
    uint32_t word = 0;
    EXPECT_EQ(RampWord(s, c.position, &word), c.result) << std::hex << c.position;
    EXPECT_EQ(word, c.word) << std::hex << c.position;
  }
}

TEST_F(SoundImportTest, RampWordKeepsTheLow8BitsOfTheDivider) {
  uint32_t word = 0;
  s.MainClk = 1000;
  s.Ramp_Rate = 3;  // (1000 + 1) / 3 - 1 = 332: only the low 8 bits are kept
  ASSERT_EQ(RampWord(s, 0, &word), ErrNone);
  EXPECT_EQ(word, 332u & 0xFF);
}

TEST_F(SoundImportTest, RampSoundRefusalsWriteNothing) {
  const std::string path = WriteWav("ramp_bad.wav", Ramp(16));
  Define("RampInc", path, KindAdpcm, 0);
  Define("RampDec", path, KindPcm16, 0x100);
  // RampDec's first byte lies at file position 0x200 - Offset.
  const struct {
    const char* name;
    int32_t rampRate, offset;
    int code;
  } cases[] = {
      {"RampInc", 64000, 0, ErrInternal},
      {"RampDec", 0, 0, ErrRampRate},
      {"RampDec", 64000, 0x201, ErrRampPosition},
      {"RampDec", 64000, -0xFFFE00, ErrRampPosition},
  };
  for (const auto& c : cases) {
    s.Ramp_Rate = c.rampRate;
    s.Offset = c.offset;
    std::string out;
    EXPECT_EQ(Import(c.name, &out), c.code) << c.name << " " << c.offset;
    EXPECT_EQ(out, "") << c.name << " " << c.offset;
  }
  EXPECT_EQ(image_.Bytes(), Blank());
  EXPECT_EQ(s.RampDecDone + s.RampIncDone, 0);
}

// With FileSize 0x10000 the system area starts at 0xFE00; SoundBase is 0x100 and every sound
// here is 256 bytes long. The guard compares chip addresses, so Offset does not move it.
TEST_F(SoundImportTest, SoundReachingTheSystemAreaIsRefused) {
  const std::string path = WriteWav("edge.wav", Ramp(256), {16000, 8, 1});
  const struct {
    int32_t start;
    int32_t offset;
    const char* overlapLine;  // null when the sound is written
  } cases[] = {
      {0xFD00, 0, "PCM8   [00fd00:00fdff] Edge = "},      // last chip address 0xFEFF
      {0xFC01, 0, "PCM8   [00fc01:00fd00] Edge = "},      // last chip address 0xFE00
      {0xFC01, 0x100, "PCM8   [00fc01:00fd00] Edge = "},  // file position 0xFD00 does not help
      {0xFC00, 0, nullptr},                               // last chip address 0xFDFF
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.start << " offset " << c.offset);
    TempImage image(s, kImageSize);
    FreeNames(s);
    s.Offset = c.offset;
    Define("Edge", path, KindPcm8, c.start);
    std::string out;
    const int r = Import("edge", &out);
    if (c.overlapLine != nullptr) {
      EXPECT_EQ(r, ErrSystemArea);
      EXPECT_EQ(out, c.overlapLine + path + "  \n");
      EXPECT_EQ(image.Bytes(), Blank());
    } else {
      EXPECT_EQ(r, ErrNone);
      EXPECT_EQ(image.Bytes(0xFCFF, 1), std::vector<uint8_t>{0xFF});
      EXPECT_EQ(image.Bytes(0xFDFF, 1), std::vector<uint8_t>{0x73});  // the ramp's top sample
      EXPECT_EQ(image.Bytes(0xFE00, 1), std::vector<uint8_t>{0xFF});
    }
  }
}

TEST_F(SoundImportTest, SilenceAndMuteTouchNothingEvenOverTheSystemArea) {
  Captured([&] {
    EXPECT_EQ(DefineSound(s, "Quiet", "", KindSilence, 0x20000), ErrNone);
    EXPECT_EQ(DefineSound(s, "Hush", "", KindMute, 0x20000), ErrNone);
  });
  for (const char* name : {"quiet", "hush"}) {
    std::string out;
    EXPECT_EQ(Import(name, &out), ErrNone) << name;
    EXPECT_EQ(out, "");
  }
  EXPECT_EQ(image_.Bytes(), Blank());
}

TEST_F(SoundImportTest, Eq01ReadsItsFileButLeavesItsRangeAlone) {
  Define("Chime", WriteWav("chime.wav", Ramp(17), {16000, 8, 1}), KindEq01, 0);
  ASSERT_EQ(FindSound(s, "chime")->end, 14);
  std::string out;
  EXPECT_EQ(Import("chime", &out), ErrNone);
  EXPECT_EQ(out, "");  // the rate was already reported in pass 1
  EXPECT_EQ(image_.Bytes(), Blank());
}

TEST_F(SoundImportTest, FailuresLeaveTheImageUntouched) {
  const std::string good = WriteWav("good.wav", Ramp(100));
  const std::string gone = WriteWav("gone.wav", Ramp(100));
  const std::string tiny = TempPath("tiny.wav");
  ASSERT_TRUE(testwav::WriteFile(tiny, std::vector<uint8_t>(20, 'R')));
  Define("Good", good, KindPcm16, 0);
  Define("Gone", gone, KindPcm16, 0x400);
  Captured([&] { DefineSound(s, "Tiny", ("\"" + tiny + "\"").c_str(), KindPcm8, 0); });
  Captured([&] { DefineSound(s, "Odd", ("\"" + good + "\"").c_str(), 9, 0); });
  std::filesystem::remove(gone);
  const struct {
    const char* name;
    int code;
  } cases[] = {{"nobody", ErrInternal}, {"Gone", ErrFileOpen}, {"Tiny", ErrWaveFile}, {"Odd", ErrInternal}};
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(Import(c.name, &out), c.code) << c.name;
    EXPECT_EQ(out, "") << c.name;
  }
  EXPECT_EQ(image_.Bytes(), Blank());
}

// A wave file rewritten between the passes must never end as a half-written sound that passes
// for a good one: shorter than its header says it is a read error, a different size no longer
// fills the reserved range, for every kind that writes.
TEST_F(SoundImportTest, WaveFileChangedBetweenThePassesIsRefused) {
  const struct {
    int32_t kind;
    uint32_t framesInPass2;
    bool truncated;  // header unchanged, data cut short
    int code;
  } cases[] = {
      {KindAdpcm, 102, false, ErrInternal}, {KindAdpcm, 99, false, ErrNone},  // same 50 bytes
      {KindPcm8, 101, false, ErrInternal},  {KindPcm16, 99, false, ErrInternal},
      {KindUlaw, 150, false, ErrInternal},  {KindPcm16, 100, true, ErrRead},
      {KindPcm8, 100, true, ErrRead},
  };
  const std::string path = TempPath("changing.wav");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << ", " << c.framesInPass2 << " frames");
    TempImage image(s, kImageSize);
    FreeNames(s);
    ASSERT_TRUE(testwav::WriteFile(path, testwav::EncodeWav(Ramp(100), {})));
    Define("Moving", path, c.kind, 0);
    std::vector<uint8_t> pass2 = testwav::EncodeWav(Ramp(c.framesInPass2), {});
    if (c.truncated) pass2.resize(pass2.size() - 3);
    ASSERT_TRUE(testwav::WriteFile(path, pass2));
    std::string out;
    EXPECT_EQ(Import("moving", &out), c.code);
    if (c.code != ErrNone) {
      EXPECT_EQ(out, "");
      EXPECT_EQ(image.Bytes(), Blank());
    }
  }
}

TEST_F(SoundImportTest, PositionBelowTheFileStartIsRefused) {
  Define("Low", WriteWav("low.wav", Ramp(8)), KindPcm8, 0);
  s.Offset = 0x200;  // SoundBase 0x100 lies before the image file's first byte
  std::string out;
  EXPECT_EQ(Import("low", &out), ErrFilePosition);
  EXPECT_EQ(out, "");
  EXPECT_EQ(image_.Bytes(), Blank());
}

TEST_F(SoundImportTest, StereoEightBitFileIsMixedBeforeEncoding) {
  const std::string path = WriteWav("stereo8.wav", {-32768, 256, 32512}, {16000, 8, 2});
  Define("Mix", path, KindPcm16, 0);
  std::string out;
  ASSERT_EQ(Import("mix", &out), ErrNone);
  EXPECT_EQ(image_.Bytes(0x100, 6), (std::vector<uint8_t>{0x00, 0x80, 0x00, 0x01, 0x00, 0x7F}));
}

}  // namespace
