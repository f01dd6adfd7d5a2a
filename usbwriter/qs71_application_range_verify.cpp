// One range of the OTP compared on its own, so that a host can narrow down where a part that
// failed its blank check or verify differs. The main area is compared by the programmer, as
// the verify does; where the range reaches the system area, that area is read back and
// compared after masking, as the verify and the blank check do. A range covering the whole
// part therefore differs exactly when the blank check or the verify would fail.
#include "qs71_application.h"

#include <algorithm>

#include "qs71_usb_writer.h"
#include "system_area.h"
#include "text_format.h"  // Format

namespace {

// The range verify streams whole 256-byte units, and the programmer compares nothing smaller.
constexpr uint32_t kRangeGranule = 256;

bool RangeFits(uint32_t start, uint32_t length, uint32_t otpSize) {
  return start % kRangeGranule == 0 && length % kRangeGranule == 0 && length > 0 &&
         start < otpSize && length <= otpSize - start;
}

}  // namespace

int Qs71Application::CompareRange() {
  bool& match = rangeMatch;
  if (!RangeFits(rangeStart, rangeLength, otpSize)) {
    Print(Format("[ERROR] Invalid OTP verify range %u bytes at 0x%06X!\n", rangeLength,
                 rangeStart));
    return QS71_E_VERIFY_SIZE;
  }
  std::vector<uint8_t> expected;
  int result = RangeExpectation(expected);
  if (result != 0) return result;
  AdjustOtpVdd(rangeVdd);
  const uint32_t mainEnd = otpSize - qs71::kSystemAreaSize;
  const uint32_t end = rangeStart + rangeLength;
  if (rangeStart < mainEnd) {
    const uint32_t stop = std::min(end, mainEnd);
    const std::vector<uint8_t> slice(expected.begin() + rangeStart, expected.begin() + stop);
    result = VerifyRange(rangeStart, stop - rangeStart, slice, match);
    if (result != 0 || !match || end <= mainEnd) return result;
  }
  return CompareSystemAreaPart(expected, std::max(rangeStart, mainEnd) - mainEnd,
                               end - mainEnd, match);
}

// The whole part as it should read: the image, or erased cells for a blank check.
int Qs71Application::RangeExpectation(std::vector<uint8_t>& expected) {
  if (imageKind != ImageKind::kNone) return ImportImage(expected);
  expected.assign(otpSize, 0xFF);
  return 0;
}

// Offsets from..to of the 512-byte system area, compared as the blank check or the verify
// compares the whole of it.
int Qs71Application::CompareSystemAreaPart(const std::vector<uint8_t>& expected, uint32_t from,
                                           uint32_t to, bool& match) {
  std::vector<uint8_t> block;
  const int result = ReadSystemArea(block);
  if (result != 0) return result;
  MaskSystemArea(block);
  const std::vector<uint8_t> wanted = ExpectedSystemArea(expected, imageKind == ImageKind::kNone, block);
  match = std::equal(block.begin() + from, block.begin() + to, wanted.begin() + from);
  return 0;
}
