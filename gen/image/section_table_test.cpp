#include "image/section_table.h"

#include <filesystem>
#include <string>

#include "image/image_test_support.h"
#include "result_codes.h"
#include "sound_kinds.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace {

class SectionTableTest : public ImageTest {
 protected:
  // A PCM16 sound of 4096 frames: start 0, end 0x1FFF.
  void DefineBell() {
    const std::string path = (ScratchFolder(QS71_TEST_TMPDIR, "section") / "bell.wav").string();
    testwav::Format format;
    ASSERT_TRUE(testwav::WriteFile(
        path, testwav::EncodeWav(testwav::MakeSamples({}, 4096, format.rate), format)));
    std::string out;
    const std::string literal = "\"" + path + "\"";
    ASSERT_EQ(Captured(&out, [&] { return DefineSound(s, "bell", literal.c_str(), KindPcm16, 0); }),
              ErrNone);
    ASSERT_EQ(FindSound(s, "bell")->end, 0x1FFF);
  }
};

TEST_F(SectionTableTest, SectionNumberAndOptionChecks) {
  struct Case {
    int32_t n, e;
    int result;
    int32_t option, maxSection;
  };
  const Case cases[] = {
      {1024, 1, ErrSectorNumber, -1, 0}, {-1, 1, ErrSectorNumber, -1, 0},
      {3, 0, ErrNone, -1, 3},            {3, 1, ErrNone, 1, 3},
      {3, 3, ErrNone, 3, 3},             {3, 4, ErrOptionValue, -1, 3},
      {3, -1, ErrOptionValue, -1, 3},    {1023, 2, ErrNone, 2, 1023},
  };
  for (const Case& c : cases) {
    ResetKeepingImage();
    s.SecOption[3] = 2;  // a refused value must replace an earlier option by none
    EXPECT_EQ(SetSectionOption(s, c.n, c.e), c.result) << c.n << " " << c.e;
    if (c.n >= 0 && c.n < 1024) {
      EXPECT_EQ(s.SecOption[c.n], c.option) << c.e;
    }
    EXPECT_EQ(s.MaxSection, c.maxSection);
  }
}

TEST_F(SectionTableTest, FlagsTakeYesOrNoInAnyCase) {
  EXPECT_EQ(SetSectionFlag(s, 2, 0, "\"yes\""), ErrNone);
  EXPECT_EQ(SetSectionFlag(s, 2, 2, "\"YES\""), ErrNone);
  EXPECT_EQ(SetSectionFlag(s, 2, 7, "\"Yes\""), ErrNone);
  EXPECT_EQ(s.SecFlags[2], 0x85);
  EXPECT_EQ(SetSectionFlag(s, 2, 2, "\"no\""), ErrNone);
  EXPECT_EQ(s.SecFlags[2], 0x81);
  EXPECT_EQ(SetSectionFlag(s, 4, 0, "\"Y\""), ErrYesNo);
  EXPECT_EQ(SetSectionFlag(s, 2, 0, "Yes"), ErrYesNo);  // without its quotes it is no answer
  EXPECT_EQ(s.SecFlags[2], 0x81);
  EXPECT_EQ(s.MaxSection, 4);  // raised before the literal is looked at
  EXPECT_EQ(SetSectionFlag(s, 1024, 0, "\"Yes\""), ErrSectorNumber);
  EXPECT_EQ(s.MaxSection, 4);
}

TEST_F(SectionTableTest, CountGroupLinkNeedsAnEarlierSound) {
  EXPECT_EQ(CountGroupLink(s, 5, "beep"), ErrGroupUndefined);
  EXPECT_EQ(s.MaxSection, 5);
  EXPECT_EQ(s.SecGroups[5], 0);
  ASSERT_EQ(DefineSound(s, "Beep", "", KindSilence, 10), ErrNone);
  EXPECT_EQ(CountGroupLink(s, 5, "BEEP"), ErrNone);
  EXPECT_EQ(CountGroupLink(s, 5, "beep"), ErrNone);
  EXPECT_EQ(s.SecGroups[5], 2);
  EXPECT_EQ(CountGroupLink(s, -1, "beep"), ErrSectorNumber);
}

TEST_F(SectionTableTest, WorkedExampleWithThreeSections) {
  ASSERT_EQ(DefineSound(s, "s", "", KindSilence, 4), ErrNone);
  EXPECT_EQ(SetSectionOption(s, 0, 0), ErrNone);
  for (int bit : {0, 2, 7}) EXPECT_EQ(SetSectionFlag(s, 1, bit, "\"Yes\""), ErrNone);
  EXPECT_EQ(SetSectionOption(s, 1, 2), ErrNone);
  EXPECT_EQ(CountGroupLink(s, 1, "s"), ErrNone);
  EXPECT_EQ(CountGroupLink(s, 1, "s"), ErrNone);
  EXPECT_EQ(CountGroupLink(s, 2, "s"), ErrNone);
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return WriteSectionTable(s); }), ErrNone);
  EXPECT_EQ(out,
            "<Sectin 0000> Level  , UnHold , NonRtg , StopDis, Groups = 0\n"
            "<Sectin 0001> Edge  , UnHold , Retrg , StopEn, Groups = 2\n"
            "<Sectin 0002> Level  , UnHold , NonRtg , StopDis, Groups = 1\n");
  EXPECT_EQ(s.SecBase[0], 32);
  EXPECT_EQ(s.SecBase[1], 32);
  EXPECT_EQ(s.SecBase[2], 48);
  EXPECT_EQ(s.SoundBase, 56);
  EXPECT_EQ(ImageAt(4, 4), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(ImageAt(16, 8), Bytes({0xFD, 0x24, 0x00, 0x00, 0x78, 0x37, 0x00, 0x00}));
}

TEST_F(SectionTableTest, ListingLineOfEdgeRetriggerSection) {
  s.MaxSection = 2;
  s.SecFlags[2] = 0x05;
  s.SecGroups[2] = 3;
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return WriteSectionTable(s); }), ErrNone);
  EXPECT_NE(out.find("<Sectin 0002> Edge  , UnHold , Retrg , StopDis, Groups = 3\n"),
            std::string::npos);
  EXPECT_NE(out.find("<Sectin 0001> Level  , UnHold , NonRtg , StopDis, Groups = 0\n"),
            std::string::npos);
}

TEST_F(SectionTableTest, GroupTablesFollowEachOtherForEveryGrpAdr) {
  struct Case {
    int32_t grpAdr;
    int32_t base1, base2, soundBase;
  };
  // Section 0 has 3 links, section 1 one, section 2 two; GroupStart is 32.
  const Case cases[] = {{1, 44, 48, 56}, {2, 50, 56, 68}, {3, 56, 64, 80}, {4, 62, 72, 92}};
  for (const Case& c : cases) {
    ResetKeepingImage();
    s.GrpAdr = c.grpAdr;
    s.MaxSection = 2;
    s.SecGroups[0] = 3;
    s.SecGroups[1] = 1;
    s.SecGroups[2] = 2;
    std::string out;
    ASSERT_EQ(Captured(&out, [&] { return WriteSectionTable(s); }), ErrNone);
    EXPECT_EQ(s.SecBase[0], 32);
    EXPECT_EQ(s.SecBase[1], c.base1) << c.grpAdr;
    EXPECT_EQ(s.SecBase[2], c.base2) << c.grpAdr;
    EXPECT_EQ(s.SoundBase, c.soundBase) << c.grpAdr;
  }
}

TEST_F(SectionTableTest, BellLinkWorkedExample) {
  DefineBell();
  for (int32_t flag : {0, 1}) {
    s.SecGroups[1] = 2;
    s.SecLinked[1] = 1;
    s.SecBase[1] = 32;
    s.SoundBase = 0x38;
    std::string out;
    ASSERT_EQ(Captured(&out, [&] { return LinkGroup(s, 1, "BELL", 16000, flag); }), ErrNone);
    EXPECT_EQ(out, "Section[  1]: Link PCM16   bell      (83*)\n");
    EXPECT_EQ(s.SecLinked[1], 2);
    const int type = flag == 0 ? 0x83 : 0xC3;
    EXPECT_EQ(ImageAt(40, 8), Bytes({type, 0x1F, 0x38, 0x00, 0x00, 0xC8, 0xDF, 0xFF}));
  }
}

TEST_F(SectionTableTest, FirstOfTwoLinksHasNoEndMark) {
  DefineBell();
  s.SecGroups[1] = 2;
  s.SecBase[1] = 32;
  s.SoundBase = 0x38;
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return LinkGroup(s, 1, "bell", 8000, 7); }), ErrNone);
  EXPECT_EQ(out, "Section[  1]: Link PCM16   bell      (03 )\n");
  EXPECT_EQ(ImageAt(32, 2), Bytes({0x43, 63}));
}

TEST_F(SectionTableTest, SilenceAndMuteEntriesForEachGrpAdr) {
  ASSERT_EQ(DefineSound(s, "pause", "", KindSilence, 0x10), ErrNone);
  ASSERT_EQ(DefineSound(s, "hush", "", KindMute, 0x100), ErrNone);
  struct Case {
    int32_t grpAdr, soundBase;
    const char* name;
    std::vector<uint8_t> entry;
  };
  const Case cases[] = {
      {1, 0x58, "pause", Bytes({0x80, 7, 0x58, 0x98})},
      {2, 0x3458, "hush", Bytes({0x88, 7, 0x58, 0x34, 0xA8, 0xCA})},
      {3, 0x123458, "pause", Bytes({0x80, 7, 0x58, 0x34, 0x12, 0x98, 0xCB, 0xED})},
      {4, 0x123458, "hush", Bytes({0x88, 7, 0x58, 0x34, 0x12, 0x00, 0xA8, 0xCA, 0xED, 0xFF})},
  };
  for (const Case& c : cases) {
    s.GrpAdr = c.grpAdr;
    s.SecGroups[0] = 1;
    s.SecLinked[0] = 0;
    s.SecBase[0] = 16;
    s.SoundBase = c.soundBase;
    std::string out;
    ASSERT_EQ(Captured(&out, [&] { return LinkGroup(s, 0, c.name, 64000, 0); }), ErrNone);
    EXPECT_EQ(ImageAt(16, c.entry.size()), c.entry) << c.grpAdr;
  }
}

// Each width at its edge: the last address that fits and the first that does not, for the
// first address (where the sound starts) and the last one (a sound or silence that straddles
// the edge). Entries that fit keep their bytes; a refused link is listed but writes nothing.
TEST_F(SectionTableTest, LinkAddressesAtTheEdgeOfEachGrpAdr) {
  const std::string two = (ScratchFolder(QS71_TEST_TMPDIR, "section") / "two.wav").string();
  testwav::Format format{8000, 8, 1};
  ASSERT_TRUE(testwav::WriteFile(two, testwav::EncodeWav(testwav::MakeSamples({}, 2, 8000), format)));
  const std::string literal = "\"" + two + "\"";
  struct Case {
    int32_t grpAdr, soundBase;
    int32_t length;  // of a silence; 0 links a PCM8 sound of two bytes instead
    int result;
    std::vector<uint8_t> addresses;  // the bytes after type and divider
  };
  const Case cases[] = {
      {1, 0xFE, 0, ErrNone, Bytes({0xFE, 0x00})},
      {1, 0xFF, 0, ErrSoundAddress, {}},
      {1, 0x100, 0, ErrSoundAddress, {}},
      {1, 0x40, 0xC0, ErrNone, Bytes({0x40, 0x00})},
      {1, 0x40, 0xC1, ErrLinkLength, {}},
      {1, 0x100, 1, ErrSoundAddress, {}},
      {2, 0xFFFE, 0, ErrNone, Bytes({0xFE, 0xFF, 0x00, 0x00})},
      {2, 0xFFFF, 0, ErrSoundAddress, {}},
      {2, 0x40, 0xFFC0, ErrNone, Bytes({0x40, 0x00, 0x00, 0x00})},
      {2, 0x40, 0xFFC1, ErrLinkLength, {}},
      {3, 0xFFFFFE, 0, ErrNone, Bytes({0xFE, 0xFF, 0xFF, 0x00, 0x00, 0x00})},
      {3, 0xFFFFFF, 0, ErrSoundAddress, {}},
      {3, 0x1000000, 0, ErrSoundAddress, {}},
      {3, 0x40, 0xFFFFC0, ErrNone, Bytes({0x40, 0x00, 0x00, 0x00, 0x00, 0x00})},
      {3, 0x40, 0xFFFFC1, ErrLinkLength, {}},
      {3, 0x40, 0x7FFFFFFF, ErrLinkLength, {}},
      {4, 0x7FFFFFFF, 0, ErrNone, Bytes({0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F})},
      {4, 0x40, 0x7FFFFFFF, ErrNone, Bytes({0x40, 0, 0, 0, 0xC1, 0xFF, 0xFF, 0x7F})},
      {4, -2, 0, ErrSoundAddress, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.grpAdr << " " << std::hex << c.soundBase << " " << c.length);
    ResetKeepingImage();
    FreeNames(s);
    FreshImage();
    std::string out;
    if (c.length == 0) {
      ASSERT_EQ(Captured(&out, [&] { return DefineSound(s, "s", literal.c_str(), KindPcm8, 0); }),
                ErrNone);
    } else {
      ASSERT_EQ(DefineSound(s, "s", "", KindSilence, c.length), ErrNone);
    }
    s.GrpAdr = c.grpAdr;
    s.SecGroups[0] = 2;
    s.SecLinked[0] = 0;
    s.SecBase[0] = 16;
    s.SoundBase = c.soundBase;
    ASSERT_EQ(Captured(&out, [&] { return LinkGroup(s, 0, "s", 64000, 0); }), c.result);
    EXPECT_EQ(out.rfind("Section[  0]: Link ", 0), 0u) << out;
    EXPECT_EQ(s.SecLinked[0], 1);
    EXPECT_EQ(ImageAt(18, c.addresses.size() + 1), c.addresses);
  }
}

TEST_F(SectionTableTest, OffsetMovesTheEntryAndMustNotGoBelowZero) {
  ASSERT_EQ(DefineSound(s, "pause", "", KindSilence, 8), ErrNone);
  s.SecGroups[0] = 2;
  s.SecBase[0] = 0x1020;
  s.Offset = 0x1000;
  std::string out;
  ASSERT_EQ(Captured(&out, [&] { return LinkGroup(s, 0, "pause", 64000, 0); }), ErrNone);
  EXPECT_EQ(ImageAt(0x20, 2), Bytes({0x00, 7}));
  s.Offset = 0x1030;  // the second entry's chip address 0x1028 lies before the file
  EXPECT_EQ(Captured(&out, [&] { return LinkGroup(s, 0, "pause", 64000, 0); }), ErrFilePosition);
  EXPECT_EQ(ImageBytes().size(), 0x28u);
}

TEST_F(SectionTableTest, RefusedLinksWriteAndCountNothing) {
  ASSERT_EQ(DefineSound(s, "pause", "", KindSilence, 8), ErrNone);
  s.SecGroups[0] = 1;
  s.SecBase[0] = 16;
  std::string out;
  EXPECT_EQ(Captured(&out, [&] { return LinkGroup(s, 0, "nothing", 64000, 0); }),
            ErrGroupUndefined);
  EXPECT_EQ(Captured(&out, [&] { return LinkGroup(s, 0, "pause", 0, 0); }), ErrGroupRate);
  EXPECT_EQ(out, "");
  EXPECT_EQ(s.SecLinked[0], 0);
  EXPECT_TRUE(ImageBytes().empty());
}

TEST_F(SectionTableTest, KindOutsideTheTableOrBadGrpAdrWritesNothing) {
  EXPECT_EQ(DefineSound(s, "odd", "\"odd.wav\"", 9, 0), ErrInternal);  // stays in the list
  ASSERT_EQ(DefineSound(s, "pause", "", KindSilence, 8), ErrNone);
  s.SecGroups[0] = 1;
  s.SecBase[0] = 16;
  std::string out;
  EXPECT_EQ(Captured(&out, [&] { return LinkGroup(s, 0, "odd", 64000, 0); }), ErrInternal);
  s.GrpAdr = 5;
  EXPECT_EQ(Captured(&out, [&] { return LinkGroup(s, 0, "pause", 64000, 0); }), ErrGrpAdr);
  EXPECT_EQ(out, "");
  EXPECT_EQ(s.SecLinked[0], 0);
  EXPECT_TRUE(ImageBytes().empty());
}

// Section 1's table follows section 0's links; GroupStart is 32 and entries are 8 bytes.
TEST_F(SectionTableTest, GroupTableMustLieWithinReachOfItsSectionEntry) {
  struct Case {
    int32_t linksBefore, links;
    int result;
    std::vector<uint8_t> entry;  // of section 1, at 16
  };
  const Case cases[] = {
      {0x1FFFFB, 1, ErrNone, Bytes({0x78, 0xFF, 0xFF, 0xFF})},  // at 0xFFFFF8
      {0x1FFFFC, 1, ErrGroupTableAddress, {}},                 // at 0x1000000
      {0x1FFFFC, 0, ErrNone, Bytes({0xFF, 0xFF, 0xFF, 0xFF})},  // no links, no table to find
      {0x20000000, 1, ErrGroupTableAddress, {}},  // 2^32 bytes on: SecBase wraps back to 32
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.linksBefore << " " << c.links);
    ResetKeepingImage();
    FreshImage();
    s.MaxSection = 1;
    s.SecGroups[0] = c.linksBefore;
    s.SecGroups[1] = c.links;
    std::string out;
    EXPECT_EQ(Captured(&out, [&] { return WriteSectionTable(s); }), c.result);
    EXPECT_NE(out.find("<Sectin 0001>"), std::string::npos);
    EXPECT_EQ(ImageAt(16, 4), c.entry);
  }
}

TEST_F(SectionTableTest, WriteFailureIsReturned) {
  UseReadOnlyImage();
  std::string out;
  EXPECT_EQ(Captured(&out, [&] { return WriteSectionTable(s); }), ErrWrite);
}

}  // namespace
