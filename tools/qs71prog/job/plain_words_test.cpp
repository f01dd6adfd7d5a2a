#include "job/plain_words.h"

#include <gtest/gtest.h>

#include "qs71_usb_writer.h"

namespace qs71prog {
namespace {

constexpr int32_t kSize = 262144;

struct WordsCase {
  Phase phase;
  int32_t result;
  int32_t progress;
  std::array<uint8_t, 4> chipId;
  std::string words;
};

TEST(FoundWords, SayWhatTheFailingStepFound) {
  const std::string kExpected =
      "expected 6D 61 02 xx (256 KiB), 6D 61 04 xx (512 KiB), 6D 61 08 xx (1 MiB) or "
      "6D 61 16 xx (2 MiB)";
  const WordsCase cases[] = {
      {Phase::kBlankCheck, QS71_E_NOT_BLANK, kSize - 513, {},
       "blank check: programmed cells in the main area 0x000000-0x03FDFF, the part is not blank"},
      {Phase::kBlankCheck, QS71_E_MISMATCH, kSize - 1, {},
       "blank check: the system area 0x03FE00-0x03FFFF differs from a blank part's"},
      {Phase::kVerify, QS71_E_MISMATCH, kSize - 513, {},
       "verify: the main area 0x000000-0x03FDFF differs from voice.bin"},
      {Phase::kVerify, QS71_E_MISMATCH, kSize - 1, {},
       "verify: the system area 0x03FE00-0x03FFFF differs from voice.bin"},
      {Phase::kVerify, QS71_E_SYSTEM_AREA, kSize - 1, {},
       "verify: the system area 0x03FE00-0x03FFFF breaks the chip's own rules"},
      {Phase::kIdentify, QS71_E_OTP_ID, 0, {0x12, 0x34, 0x02, 0x00},
       "the chip's ID reads 12 34 02 00, " + kExpected},
      {Phase::kIdentify, QS71_E_SIZE_CODE, 0, {0x6D, 0x61, 0x10, 0x00},
       "the chip's ID reads 6D 61 10 00, " + kExpected},
      {Phase::kVerify, QS71_E_STATUS, kSize - 513, {}, ""},
      {Phase::kWrite, QS71_E_MISMATCH, kSize - 1, {}, ""},
  };
  for (const WordsCase& c : cases) {
    FailureFacts facts;
    facts.phase = c.phase;
    facts.result = c.result;
    facts.otpSize = c.phase == Phase::kIdentify ? 0 : kSize;
    facts.progress = c.progress;
    facts.image = "voice.bin";
    facts.chipId = c.chipId;
    EXPECT_EQ(FoundWords(facts), c.words) << PhaseName(c.phase) << " " << c.result;
  }
}

const char kPlugIn[] = "no QS71 programmer found (USB 04d8:fe08) \xE2\x80\x94 is it plugged in?";

TEST(NoProgrammerWords, AskForThePlugOrNameTheNodeThisUserMayNotOpen) {
  EXPECT_EQ(NoProgrammerWords({}, ""), std::vector<std::string>{kPlugIn});
  EXPECT_EQ(NoProgrammerWords({{"/dev/hidraw5", false}}, ""), std::vector<std::string>{kPlugIn});
  const auto withRule = NoProgrammerWords({}, "install the udev rule");
  ASSERT_EQ(withRule.size(), 2u);
  EXPECT_EQ(withRule[0], kPlugIn);
  EXPECT_EQ(withRule[1], "if it is and still not found, install the udev rule");
  const auto locked =
      NoProgrammerWords({{"/dev/hidraw2", true}, {"/dev/hidraw5", false}}, "install the rule");
  ASSERT_EQ(locked.size(), 1u);
  EXPECT_EQ(locked[0],
            "the programmer is attached at /dev/hidraw5 but this user may not open it; "
            "install the rule");
}

TEST(ImageSizeWords, NameBothSizes) {
  EXPECT_EQ(ImageSizeWords("voice.bin", 262144, 524288),
            "voice.bin is 262144 bytes, the chip's OTP 524288: nothing was done to the part");
}

}  // namespace
}  // namespace qs71prog
