#include "image/option_area.h"

#include <string>

#include "image/cfgmem_block.h"
#include "image/image_test_support.h"
#include "option_block.h"
#include "result_codes.h"

namespace {

using Block = std::array<uint8_t, kOptionBlockSize>;

void SetExampleOptions(CompileState& s) {
  s.WakeupDly = 0x40;
  s.FuncCode = 0x123;
  s.SrcSpd = 2;
  s.MiscOpt = 0x5A;
  s.IO_Cfg = 0xC5;
  s.DbckUi = 3;
  s.DbckSi = 0xA;
  s.SecNum = 16;
  s.Output = 0x1234;
  s.Ramp_Cfg = 0x81;
  s.Vol_Cfg = 0x3456;
}

TEST(OptionBlockTest, DefaultsGiveAllOnes) {
  CompileState s;
  Block ones;
  ones.fill(0xFF);
  EXPECT_EQ(BuildOptionBlock(s), ones);
}

TEST(OptionBlockTest, WorkedExample) {
  CompileState s;
  SetExampleOptions(s);
  const Block expected = {0x68, 0xFF, 0xFF, 0x7E, 0x24, 0xC5, 0xA3, 0xFF,
                          0x0C, 0x70, 0x56, 0x34, 0x81, 0x5A, 0x34, 0x12};
  EXPECT_EQ(BuildOptionBlock(s), expected);
}

TEST(OptionBlockTest, SecNumFourGivesTheBareMarker) {
  CompileState s;
  s.SecNum = 4;
  const Block b = BuildOptionBlock(s);
  EXPECT_EQ(b[8], 0x00);
  EXPECT_EQ(b[9], 0x70);
}

TEST(VolMapTest, ParseCases) {
  CompileState s;
  struct Case {
    const char* literal;
    int result;
    std::vector<int32_t> head;  // first entries after the call
    int32_t rest;               // every further entry
  };
  const Case cases[] = {
      {"\"00102030\"", ErrNone, {0x00, 0x10, 0x20, 0x30}, 0x80},
      {"\"0010\"", ErrNone, {0x00, 0x10}, 0x80},
      {"\"\"", ErrNone, {}, 0x80},
      {"\"fF7a\"", ErrNone, {0xFF, 0x7A}, 0x80},
      {"\"000102030405060708090a0b0c0d0e0f\"", ErrNone, {0x00, 0x01, 0x02}, -2},
      {"\"000102030405060708090a0b0c0d0e0f10\"", ErrInternal, {}, -1},
      {"\"000102030405060708090a0b0c0d0e0f1\"", ErrInternal, {}, -1},
      {"\"123\"", ErrInternal, {}, -1},
      {"\"0G\"", ErrInternal, {}, -1},
      {"\"00 1\"", ErrInternal, {}, -1},
  };
  for (const Case& c : cases) {
    s = CompileState();
    EXPECT_EQ(ParseVolMap(s, c.literal), c.result) << c.literal;
    for (size_t k = 0; k < 16; ++k) {
      int32_t want = k < c.head.size() ? c.head[k] : c.rest;
      if (want == -2) want = static_cast<int32_t>(k);
      EXPECT_EQ(s.VolMap[k], want) << c.literal << " entry " << k;
    }
  }
}

class OptionWriteTest : public ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    s.FileSize = 0x10000;
  }
};

TEST_F(OptionWriteTest, DefaultsListingAndBytes) {
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return WriteOptionBlock(s); }), ErrNone);
  std::string map = "> AddVolMap:    = ";
  for (int k = 0; k < 16; ++k) map += " ffffffffh";
  EXPECT_EQ(out,
            "> WakeupDly     = ffffffff\n"
            "> SrcSpd        = ffffffff\n"
            "> FuncCode      = ffffffff\n"
            "> MiscOpt       = ffffffff\n"
            "> IO_Cfg        = ffffffff\n"
            "> DbckUi        = ffffffff\n"
            "> DbckSi        = ffffffff\n"
            "> Section Count = 0\n"
            "> Section Num   = 3\n"
            "> Output Option = ffffffff\n"
            "> Ramp_Cfg      = ffffffff\n"
            "> Vol_Cfg       = ffffffff\n" +
                map + "\n");
  EXPECT_EQ(ImageAt(0xFFE0, 33), std::vector<uint8_t>(32, 0xFF));
}

TEST_F(OptionWriteTest, ExampleValuesAndShortVolumeMap) {
  SetExampleOptions(s);
  s.MaxSection = 7;
  ASSERT_EQ(ParseVolMap(s, "\"00102030\""), ErrNone);
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return WriteOptionBlock(s); }), ErrNone);
  EXPECT_NE(out.find("> WakeupDly     = 40\n> SrcSpd        = 2\n> FuncCode      = 123\n"),
            std::string::npos);
  EXPECT_NE(out.find("> Section Count = 7\n> Section Num   = 16\n> Output Option = 1234\n"),
            std::string::npos);
  EXPECT_NE(out.find("> Vol_Cfg       = 3456\n> AddVolMap:    =  00h 10h 20h 30h\n"),
            std::string::npos);
  EXPECT_EQ(ImageAt(0xFFE0, 20),
            Bytes({0x68, 0xFF, 0xFF, 0x7E, 0x24, 0xC5, 0xA3, 0xFF, 0x0C, 0x70, 0x56, 0x34, 0x81,
                   0x5A, 0x34, 0x12, 0x00, 0x10, 0x20, 0x30}));
  EXPECT_EQ(ImageBytes().size(), 0xFFF4u);  // exactly Vol_Cfg's four map bytes
}

TEST_F(OptionWriteTest, CfgMemBlockGoesToOptionBase) {
  for (int i = 0; i < 48; ++i) s.CfgMem[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(WriteCfgMemBlock(s), ErrNone);
  EXPECT_EQ(ImageAt(0xFFC0, 48)[0], 0);
  EXPECT_EQ(ImageAt(0xFFC0, 48)[47], 47);
  EXPECT_EQ(ImageBytes().size(), 0xFFF0u);
}

TEST_F(OptionWriteTest, WriteFailuresAreReturned) {
  UseReadOnlyImage();
  std::string out;
  EXPECT_EQ(Captured(&out, [&] { return WriteOptionBlock(s); }), ErrWrite);
  EXPECT_EQ(WriteCfgMemBlock(s), ErrWrite);
}

}  // namespace
