#include "name_tables.h"

#include <gtest/gtest.h>

#include <string>

#include "compile_state.h"
#include "result_codes.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace {

class NameTablesTest : public testing::Test {
 protected:
  void SetUp() override { s.Pass = 1; }

  // A wave file whose header announces dataSize bytes; the data is written in full.
  std::string Wave(const char* name, uint16_t bits, uint16_t channels, uint32_t dataSize) {
    std::string path = (ScratchFolder(QS71_TEST_TMPDIR, "names") / name).string();
    testwav::Format f{16000, bits, channels};
    std::vector<uint8_t> bytes = testwav::WavHeader(f, dataSize);
    bytes.resize(bytes.size() + dataSize, 0x80);
    testwav::WriteFile(path, bytes);
    return "\"" + path + "\"";
  }

  CompileState s;
};

TEST_F(NameTablesTest, ConstantsAreCaseInsensitiveAndKeepTheFirstValue) {
  EXPECT_EQ(DefineConst(s, "Rate", 1), ErrNone);
  EXPECT_EQ(DefineConst(s, "RATE", 2), ErrConstRedefined);
  EXPECT_EQ(LookupConst(s, "rate", 1), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(LookupConst(s, "missing", 4), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "*Error Line4: Const <missing> Undefined.\n");
  EXPECT_EQ(s.ErrorCount, 1);
}

TEST_F(NameTablesTest, WaveSoundSizesByKind) {
  struct SizeCase {
    int32_t kind;
    uint16_t bits, channels;
    uint32_t dataSize;
    int32_t size;
  };
  const SizeCase cases[] = {
      {2, 8, 1, 1001, 501}, {3, 8, 1, 1001, 1001}, {6, 8, 1, 1001, 1001}, {4, 8, 1, 1001, 630},
      {5, 8, 1, 1001, 2002}, {3, 16, 2, 4000, 1000}, {3, 16, 1, 7, 3},    {4, 8, 1, 9, 10},
      {4, 8, 1, 16, 10},     {4, 8, 1, 17, 15},      {4, 8, 1, 0, 0},
  };
  int i = 0;
  for (const SizeCase& c : cases) {
    std::string name = "s" + std::to_string(i++);
    std::string literal = Wave((name + ".wav").c_str(), c.bits, c.channels, c.dataSize);
    int32_t before = s.NextSoundStart;
    testing::internal::CaptureStdout();
    ASSERT_EQ(DefineSound(s, name.c_str(), literal.c_str(), c.kind, 0), ErrNone);
    testing::internal::GetCapturedStdout();
    const SoundDef* sound = FindSound(s, name.c_str());
    ASSERT_NE(sound, nullptr);
    SCOPED_TRACE(name);
    EXPECT_EQ(sound->start, before);
    EXPECT_EQ(sound->end, before + c.size - 1);
    EXPECT_EQ(sound->text, literal.substr(1, literal.size() - 2));
    EXPECT_EQ(s.NextSoundStart, before + c.size);
  }
}

TEST_F(NameTablesTest, SilenceMuteAndFailures) {
  EXPECT_EQ(DefineSound(s, "quiet", "", 1, 8000), ErrNone);
  EXPECT_EQ(FindSound(s, "QUIET")->end, 7999);
  EXPECT_EQ(FindSound(s, "quiet")->text, "Silence");
  EXPECT_EQ(DefineSound(s, "none", "", 7, 0), ErrSilenceLength);
  EXPECT_EQ(FindSound(s, "none")->end, -1);
  EXPECT_EQ(FindSound(s, "none")->text, "Mute");
  EXPECT_EQ(DefineSound(s, "Quiet", "", 7, 5), ErrVoiceRedefined);
  EXPECT_EQ(DefineSound(s, "gone", "\"no/such.wav\"", 2, 0), ErrFileOpen);
  EXPECT_EQ(DefineSound(s, "odd", "", 9, 0), ErrInternal);
  EXPECT_EQ(DefineSound(s, "bad", Wave("x.wav", 8, 1, 4).c_str(), 12, 0), ErrInternal);
  EXPECT_EQ(s.NextSoundStart, 0);
  // Newest first, failures included: a node stays once it is linked.
  std::vector<const SoundDef*> list = SoundsNewestFirst(s);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list.front()->name, "bad");
  EXPECT_EQ(list.back()->name, "quiet");
}

// Pass 1 knows only the length; whether a long one fits is up to the link, where SoundBase
// and GrpAdr are known.
TEST_F(NameTablesTest, SilenceAndMuteLengthsBelowOneAreRefusedButStayDefined) {
  struct LengthCase {
    int32_t kind, length;
    int result;
    int32_t end;
  };
  const LengthCase cases[] = {
      {1, 1, ErrNone, 0},
      {7, 0x7FFFFFFF, ErrNone, 0x7FFFFFFE},
      {1, 0, ErrSilenceLength, -1},
      {7, -5, ErrSilenceLength, -6},
      {1, INT32_MIN, ErrSilenceLength, INT32_MAX},
  };
  for (const LengthCase& c : cases) {
    FreeNames(s);
    SCOPED_TRACE(c.length);
    EXPECT_EQ(DefineSound(s, "gap", "", c.kind, c.length), c.result);
    ASSERT_NE(FindSound(s, "gap"), nullptr);
    EXPECT_EQ(FindSound(s, "gap")->start, 0);
    EXPECT_EQ(FindSound(s, "gap")->end, c.end);
  }
  EXPECT_EQ(s.NextSoundStart, 0);
}

TEST(ConvertNumberTest, ParameterTexts) {
  struct NumberCase {
    const char* text;
    int code;
    int32_t value;
  };
  const NumberCase cases[] = {
      {"1Fh", ErrNone, 31},     {"101b", ErrNone, 5},    {"12d", ErrNone, 12},
      {"\"42\"", ErrNone, 42},  {"42", ErrNone, 42},     {"h", ErrNone, 0},
      {"FFFFFFFFh", ErrNone, -1}, {"\"7", ErrNone, 7},   {"12x", ErrNumberInput, -1},
      {"1G0h", ErrNumberInput, -1}, {"", ErrNumberInput, -1}, {"\"\"", ErrNumberInput, -1},
      {"102b", ErrNumberInput, -1}, {"1a", ErrNumberInput, -1}, {"-5", ErrNumberInput, -1},
  };
  for (const NumberCase& c : cases) {
    int32_t v = 1234;
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ConvertNumber(c.text, &v), c.code);
    EXPECT_EQ(v, c.value);
  }
}

}  // namespace
