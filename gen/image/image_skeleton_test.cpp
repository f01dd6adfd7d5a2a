#include "image/image_skeleton.h"

#include <string>

#include "codec_tables.h"
#include "image/cfgmem_block.h"
#include "image/fill_scale.h"
#include "image/image_test_support.h"
#include "image/option_area.h"
#include "image/section_table.h"
#include "result_codes.h"
#include "sound_kinds.h"

namespace {

class AddVolMapTest : public ImageTest {
 protected:
  static std::string DefaultOptionLines() {
    std::string s =
        "> WakeupDly     = ffffffff\n> SrcSpd        = ffffffff\n> FuncCode      = ffffffff\n"
        "> MiscOpt       = ffffffff\n> IO_Cfg        = ffffffff\n> DbckUi        = ffffffff\n"
        "> DbckSi        = ffffffff\n> Section Count = 0\n> Section Num   = 3\n"
        "> Output Option = ffffffff\n> Ramp_Cfg      = ffffffff\n> Vol_Cfg       = ffffffff\n";
    return s + DefaultVolMapLine();
  }
  static std::string DefaultVolMapLine() {
    std::string s = "> AddVolMap:    = ";
    for (int k = 0; k < 16; ++k) s += " ffffffffh";
    return s + "\n";
  }

  // The system area as the chip expects it, from the published formulas.
  static void PutSystemTables(std::vector<uint8_t>* image, int32_t fileSize) {
    for (int c = 0; c < 128; ++c) {
      int v = ((((c & 15) * 8) + 132) << (c >> 4)) - 132;
      (*image)[fileSize - 512 + 2 * c] = static_cast<uint8_t>(v);
      (*image)[fileSize - 512 + 2 * c + 1] = static_cast<uint8_t>(v >> 8);
    }
    for (int i = 0; i < kImaStepCount; ++i) {
      (*image)[fileSize - 256 + 2 * i] = static_cast<uint8_t>(kImaStepTable[i]);
      (*image)[fileSize - 256 + 2 * i + 1] = static_cast<uint8_t>(kImaStepTable[i] >> 8);
    }
  }
};

TEST_F(AddVolMapTest, FileSizeBelowSystemAreaIsRefusedBeforeAnything) {
  for (int32_t size : {511, 0, -5}) {
    s.FileSize = size;
    std::string out;
    EXPECT_EQ(Captured(&out, [&] { return AddVolMap(s); }), ErrFileSize) << size;
    EXPECT_EQ(out, "");
    EXPECT_TRUE(ImageBytes().empty());
    EXPECT_EQ(s.MaxSize, 0x10000000);
  }
}

TEST_F(AddVolMapTest, EmptyScriptGetsTheWholeSkeleton) {
  s.FileSize = 0x10000;
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return AddVolMap(s); }), ErrNone);
  EXPECT_EQ(out,
            "GrpAdr      = 3 bytes\nMaxSize     = 10000000 (hex)\nOffset      = 0 (hex)\n"
            "FileSize    = 10000 (hex)\nSecStart    = 0x10\nadpcmStart  = 0xFF00\n"
            "TagPos      = 0xFFBE\nOptionStart = 0xFFE0\n" +
                DefaultOptionLines() +
                "<Sectin 0000> Level  , UnHold , NonRtg , StopDis, Groups = 0\n");
  std::vector<uint8_t> expected(0x10000, 0xFF);
  PutSystemTables(&expected, 0x10000);
  expected[0xFFBE] = 0x5A;
  expected[0xFFBF] = 0xA5;
  EXPECT_EQ(ImageBytes(), expected);
  EXPECT_EQ(s.SecBase[0], 16);
  EXPECT_EQ(s.SoundBase, 16);
}

TEST_F(AddVolMapTest, SystemTableSpotValues) {
  s.FileSize = 0x10000;
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return AddVolMap(s); }), ErrNone);
  EXPECT_EQ(ImageAt(0xFE00, 4), Bytes({0x00, 0x00, 0x08, 0x00}));
  EXPECT_EQ(ImageAt(0xFE1E, 4), Bytes({0x78, 0x00, 0x84, 0x00}));  // 120, then 132
  EXPECT_EQ(ImageAt(0xFEFE, 2), Bytes({0x7C, 0x7D}));              // 32124
  EXPECT_EQ(ImageAt(0xFF00, 4), Bytes({0x07, 0x00, 0x08, 0x00}));
  EXPECT_EQ(ImageAt(0xFFB0, 4), Bytes({0xFF, 0x7F, 0xFF, 0xFF}));  // 32767, then blank
}

TEST_F(AddVolMapTest, OddFileSizes) {
  struct Case {
    int32_t fileSize;
    const char* adpcmLine;
    size_t length;
    int32_t tagPos;
  };
  const Case cases[] = {
      {0x10002, "adpcmStart  = 0xFF02\nTagPos      = 0xFFBE\nOptionStart = 0xFFE0\n", 0x10002,
       0xFFBE},
      // 15 above a multiple of 16: the last volume map byte lands one past FileSize.
      {0x1000F, "adpcmStart  = 0xFF0F\nTagPos      = 0xFFCE\nOptionStart = 0xFFF0\n", 0x10010,
       0xFFCE},
  };
  for (const Case& c : cases) {
    FreshImage();
    s.FileSize = c.fileSize;
    std::string out;
    ASSERT_EQ(Captured(&out, [&] { return AddVolMap(s); }), ErrNone);
    EXPECT_NE(out.find(c.adpcmLine), std::string::npos) << out;
    EXPECT_EQ(ImageBytes().size(), c.length);
    EXPECT_EQ(ImageAt(static_cast<size_t>(c.tagPos), 2), Bytes({0x5A, 0xA5}));
    EXPECT_EQ(ImageAt(static_cast<size_t>(c.fileSize - 256), 2), Bytes({0x07, 0x00}));
  }
}

TEST_F(AddVolMapTest, TagOverwritesTheLastStepSizeAt13Above16) {
  s.FileSize = 0x1000D;
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return AddVolMap(s); }), ErrNone);
  // The step table runs 0xFF0D to 0xFFBE: 29794 (62 74), then 32767 (FF 7F) whose high byte
  // becomes the first tag byte.
  EXPECT_EQ(ImageAt(0xFFBB, 5), Bytes({0x62, 0x74, 0xFF, 0x5A, 0xA5}));
}

TEST_F(AddVolMapTest, OffsetLowersMaxSize) {
  struct Case {
    int32_t offset, maxSize, lowered;
    const char* lines;
  };
  const Case cases[] = {
      {0x100, 0x10000000, 0xFFFFF00, "MaxSize     = fffff00 (hex)\nOffset      = 100 (hex)\n"},
      {0x100, 0x20000, 0x20000, "MaxSize     = 20000 (hex)\nOffset      = 100 (hex)\n"},
      {-0x100, 0x10000000, 0x10000000, "MaxSize     = 10000000 (hex)\nOffset      = ffffff00"},
  };
  for (const Case& c : cases) {
    FreshImage();
    s.FileSize = 0x1000;
    s.Offset = c.offset;
    s.MaxSize = c.maxSize;
    std::string out;
    ASSERT_EQ(Captured(&out, [&] { return AddVolMap(s); }), ErrNone);
    EXPECT_EQ(s.MaxSize, c.lowered);
    EXPECT_NE(out.find(c.lines), std::string::npos) << out;
  }
}

TEST_F(AddVolMapTest, CfgMemBlockReplacesTheOptionBlock) {
  s.FileSize = 0x10000;
  ASSERT_EQ(SetCfgMemField(s, "LvrSet", 1), ErrNone);
  s.WakeupDly = 0x40;  // ignored once the configuration block is used
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return AddVolMap(s); }), ErrNone);
  EXPECT_EQ(out.find("> WakeupDly"), std::string::npos);
  EXPECT_NE(out.find("OptionStart = 0xFFE0\n" + DefaultVolMapLine() + "<Sectin 0000>"),
            std::string::npos);
  std::vector<uint8_t> block(48, 0xFF);
  block[0] = 0xFE;
  block[33] = 0x5A;
  EXPECT_EQ(ImageAt(0xFFC0, 48), block);
  EXPECT_EQ(ImageAt(0xFFF0, 16), std::vector<uint8_t>(16, 0xFF));
}

TEST_F(AddVolMapTest, WriteFailureIsReturnedFirst) {
  UseReadOnlyImage();
  s.FileSize = 0x1000;
  std::string out;
  EXPECT_EQ(Captured(&out, [&] { return AddVolMap(s); }), ErrWrite);
  EXPECT_EQ(out, "");
}

// A script's worth of statements: pass 1 settings and sections, the skeleton, pass 2 links
// and a fill, checked against the whole expected image.
TEST_F(AddVolMapTest, SectionsSilencesMutesVolumeMapAndFill) {
  ASSERT_EQ(DefineSound(s, "gap", "", KindSilence, 0x20), ErrNone);
  ASSERT_EQ(DefineSound(s, "quiet", "", KindMute, 0x10), ErrNone);
  s.FileSize = 0x1000;
  s.Vol_Cfg = 0x1000;
  ASSERT_EQ(ParseVolMap(s, "\"0102\""), ErrNone);
  ASSERT_EQ(SetSectionFlag(s, 1, 0, "\"Yes\""), ErrNone);
  ASSERT_EQ(SetSectionOption(s, 1, 1), ErrNone);
  ASSERT_EQ(CountGroupLink(s, 1, "gap"), ErrNone);
  ASSERT_EQ(CountGroupLink(s, 1, "quiet"), ErrNone);
  ASSERT_EQ(CountGroupLink(s, 3, "gap"), ErrNone);
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return AddVolMap(s); }), ErrNone);
  EXPECT_NE(out.find("> Section Count = 3\n"), std::string::npos);
  EXPECT_NE(out.find("> AddVolMap:    =  01h 02h\n"), std::string::npos);
  EXPECT_EQ(s.SoundBase, 56);

  s.Pass = 2;
  ASSERT_EQ(Captured(&out, [&] { return LinkGroup(s, 1, "gap", 8000, 0); }), ErrNone);
  EXPECT_EQ(out, "Section[  1]: Link Silence gap       (00 )\n");
  ASSERT_EQ(Captured(&out, [&] { return LinkGroup(s, 1, "quiet", 8000, 1); }), ErrNone);
  EXPECT_EQ(out, "Section[  1]: Link Mute    quiet     (88*)\n");
  ASSERT_EQ(Captured(&out, [&] { return LinkGroup(s, 3, "GAP", 64000, 0); }), ErrNone);
  ASSERT_EQ(Captured(&out, [&] { return FillData(s, "\"0:AA_BB\""); }), ErrNone);

  std::vector<uint8_t> expected(0x1000, 0xFF);
  PutSystemTables(&expected, 0x1000);
  const std::vector<std::pair<size_t, std::vector<uint8_t>>> patches = {
      {0, Bytes({0xAA, 0xBB})},
      {16, Bytes({0x79, 0x22, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x78, 0x37, 0x00, 0x00})},
      {32, Bytes({0x00, 0x3F, 0x38, 0x00, 0x00, 0xA8, 0xFF, 0xFF})},
      {40, Bytes({0xC8, 0x3F, 0x38, 0x00, 0x00, 0xB8, 0xFF, 0xFF})},
      {48, Bytes({0x80, 0x07, 0x38, 0x00, 0x00, 0xA8, 0xFF, 0xFF})},
      {0xFBE, Bytes({0x5A, 0xA5})},
      {0xFEA, Bytes({0x00, 0x10})},  // Vol_Cfg in the option block
      {0xFF0, Bytes({0x01, 0x02})},
  };
  for (const auto& [at, bytes] : patches) {
    std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<long>(at));
  }
  const std::vector<uint8_t> image = ImageBytes();
  ASSERT_EQ(image.size(), expected.size());
  for (size_t i = 0; i < image.size(); ++i) {
    ASSERT_EQ(image[i], expected[i]) << "first difference at 0x" << std::hex << i;
  }
}

}  // namespace
