#include "image_finishing.h"

#include <string>

#include "chip_identity.h"
#include "clock_divider.h"
#include "compile_state.h"
#include "error_report.h"
#include "image/fill_scale.h"
#include "image/image_file.h"
#include "image_layout.h"
#include "text_format.h"
#include "warnings.h"

namespace {

// The programmer refuses an image of a size that no part of the family has.
std::string PartSizeList() {
  std::string list;
  const auto parts = qs71::OtpParts();
  for (size_t i = 0; i < parts.size(); ++i) {
    list += i == 0 ? "" : i + 1 == parts.size() ? " or " : ", ";
    list += std::to_string(parts[i].size);
  }
  return list;
}

void WarnIfNoPartHoldsTheImage(CompileState& s) {
  const int32_t size = s.FileSize;
  if (qs71::IsOtpSize(size)) return;
  Warn(s, FileSizeLine(s), "the image is %d bytes (%Xh), a size no QS71 part has: the programmer "
       "takes only %s bytes", size, static_cast<unsigned>(size), PartSizeList().c_str());
}

// An error whose cause the failing operation recorded.
FinishingError WithDetail(const char* text) { return {text, true, false}; }

}  // namespace

int WriteClockDividerWords(CompileState& s, FinishingError* error) {
  int32_t divider = 0;
  if (!ClockDivider(s.MainClk, s.Ramp_Rate, &divider)) {
    *error = WithDetail(ErrorMessage(ErrRampRate));
    return 1;
  }
  const uint32_t word = EncodeHeaderWord(kNoRampPosition, divider);
  int r = ErrNone;
  if (s.RampDecDone == 0) r = ImageWriteWordAt(ImageOf(s), kRampDecWordPos, word);
  if (r == ErrNone && s.RampIncDone == 0) r = ImageWriteWordAt(ImageOf(s), kRampIncWordPos, word);
  if (r == ErrNone) r = ImageFlush(ImageOf(s));
  if (r == ErrNone) return 0;
  *error = WithDetail(ErrorMessage(ErrWrite));
  return 1;
}

int CheckSizeLimits(CompileState& s, int passResult, FinishingError* error) {
  int32_t size = ImageLength(ImageOf(s));
  if (size > s.MaxSize || size > s.AddressLimit) {
    error->text = Format("Exceed MaxSize %x", static_cast<unsigned>(s.MaxSize));
    return 1;
  }
  return passResult;
}

int CheckFileSizeAndPad(CompileState& s, int passResult, FinishingError* error) {
  if (ImageFillBlanks(ImageOf(s)) != ErrNone) {
    *error = WithDetail(ErrorMessage(ErrWrite));
    return passResult + 1;
  }
  int32_t size = ImageLength(ImageOf(s));
  if (size < 0) {
    *error = {ErrorMessage(ErrWrite), true, true};
    return passResult + 1;
  }
  if (s.FileSize < size) {
    *error = {Format("Exceed user specified file size %x", static_cast<unsigned>(s.FileSize)),
              false, true};
    return passResult + 1;
  }
  int r = ImageFill(ImageOf(s), 0xFF, s.FileSize - size);
  if (r == ErrNone) r = ImageFlush(ImageOf(s));
  if (r == ErrNone && passResult == 0) WarnIfNoPartHoldsTheImage(s);
  if (r == ErrNone) return passResult;
  *error = WithDetail(ErrorMessage(ErrWrite));
  return passResult + 1;
}
