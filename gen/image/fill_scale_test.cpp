#include "image/fill_scale.h"

#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/image_test_support.h"
#include "compile_state.h"
#include "result_codes.h"

namespace {

class FillDataTest : public ImageTest {};

TEST_F(FillDataTest, Cases) {
  struct Case {
    const char* literal;
    int result;
    const char* printed;
    size_t position;
    std::vector<uint8_t> bytes;  // at position afterwards; empty: the file stays empty
  };
  const Case cases[] = {
      {"\"1F00:12_34_AB\"", ErrNone, "******* FillData: @001f00 12 34 ab\n", 0x1F00,
       Bytes({0x12, 0x34, 0xAB})},
      {"\"8:00_00_00_00\"", ErrNone, "******* FillData: @000008 00 00 00 00\n", 8,
       Bytes({0, 0, 0, 0})},
      {"\"1f:aB_\"", ErrNone, "******* FillData: @00001f ab\n", 0x1F, Bytes({0xAB})},
      {"\"100:\"", ErrNone, "******* FillData: @000100\n", 0, {}},
      {"\"100\"", ErrNone, "******* FillData: @000100\n", 0, {}},
      {"\"100000002:CD\"", ErrNone, "******* FillData: @000002 cd\n", 2, Bytes({0xCD})},
      {"\"1G00:12\"", ErrInternal, "", 0, {}},
      {"\"100:12-34\"", ErrInternal, "******* FillData: @000100", 0, {}},
      {"\"100:12_3\"", ErrInternal, "******* FillData: @000100 12", 0x100, Bytes({0x12})},
      {"\"100:1x_\"", ErrInternal, "******* FillData: @000100", 0, {}},
      {"\"FFFFFFF0:12\"", ErrFilePosition, "******* FillData: @fffffff0", 0, {}},
  };
  for (const Case& c : cases) {
    FreshImage();
    ASSERT_EQ(ImageSeek(ImageOf(s), 5), ErrNone);
    std::string out;
    EXPECT_EQ(Captured(&out, [&] { return FillData(s, c.literal); }), c.result) << c.literal;
    EXPECT_EQ(out, c.printed) << c.literal;
    EXPECT_EQ(ImageTell(ImageOf(s)), 5) << c.literal;  // the stream is back where it was
    if (c.bytes.empty()) {
      EXPECT_TRUE(ImageBytes().empty()) << c.literal;
    } else {
      EXPECT_EQ(ImageAt(c.position, c.bytes.size()), c.bytes) << c.literal;
    }
  }
}

TEST_F(FillDataTest, WriteFailureIsReturned) {
  UseReadOnlyImage();
  std::string out;
  EXPECT_EQ(Captured(&out, [&] { return FillData(s, "\"10:12\""); }), ErrWrite);
}

// The last fill decides a byte; FF over a factory cell and the marker byte (k=31) are allowed;
// each statement that clears a factory bit is one error.
TEST_F(FillDataTest, FactoryCellsCountOneErrorPerClearingStatement) {
  struct Case {
    std::vector<const char*> fills;  // on lines 1, 2, ...
    int errors;
  };
  const Case cases[] = {
      {{"\"FE1:00\"", "\"FDC:00_00\"", "\"FC2:FF\""}, 0},
      {{"\"FC1:00\""}, 1},
      {{"\"FC2:FB\""}, 1},
      {{"\"FC2:FF_00\"", "\"FC8:FB\""}, 2},
      {{"\"FC1:00_00\"", "\"FC1:FF_FF\""}, 0},
      {{"\"FC1:FF\"", "\"FC1:7F\""}, 1},
      {{"\"1FC1:00\""}, 0},  // past the end, not in the system area
  };
  for (const Case& c : cases) {
    FreshImage();
    s.Fills.clear();
    s.FileSize = 0x1000;
    s.Pass = 2;
    int32_t line = 0;
    std::string out;
    for (const char* fill : c.fills) Captured(&out, [&] { return FillData(s, fill, ++line); });
    const int32_t before = s.ErrorCount;
    EXPECT_EQ(Captured(&out, [&] { return CheckFactoryCells(s); }), c.errors) << c.fills[0];
    EXPECT_EQ(s.ErrorCount - before, c.errors) << c.fills[0];
  }
}

TEST(SetScaleTest, Cases) {
  CompileState s;
  struct Case {
    const char* literal;
    int result;
    double scale;
    const char* printed;
  };
  const Case cases[] = {
      {"\"3/4\"", ErrNone, 0.75, "******* SetScale: <3/4>=0.750000\n"},
      {"\"/4\"", ErrNone, 0.0, "******* SetScale: <0/4>=0.000000\n"},
      {"\"12/8\"", ErrNone, 1.5, "******* SetScale: <12/8>=1.500000\n"},
      {"\"3/0\"", ErrInternal, 2.0, ""},
      {"\"3/\"", ErrInternal, 2.0, ""},
      {"\"34\"", ErrInternal, 2.0, ""},
      {"\"3.5/2\"", ErrInternal, 2.0, ""},
      {"\"3/4x\"", ErrInternal, 2.0, ""},
      {"\"3/4/2\"", ErrInternal, 2.0, ""},
      {"\"\"", ErrInternal, 2.0, ""},
  };
  for (const Case& c : cases) {
    s.Scale = 2.0;
    std::string out;
    EXPECT_EQ(Captured(&out, [&] { return SetScale(s, c.literal); }), c.result) << c.literal;
    EXPECT_DOUBLE_EQ(s.Scale, c.scale) << c.literal;
    EXPECT_EQ(out, c.printed) << c.literal;
  }
}

}  // namespace
