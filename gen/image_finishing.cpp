#include "image_finishing.h"

#include <cstdio>
#include <string>

#include "chip_identity.h"
#include "clock_divider.h"
#include "compile_state.h"
#include "image/fill_scale.h"
#include "image/image_file.h"
#include "image_layout.h"
#include "script/diagnostics.h"
#include "script/statements.h"
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

void WarnIfNoPartHoldsTheImage() {
  const int32_t size = g_state.FileSize;
  if (qs71::IsOtpSize(size)) return;
  Warn(FileSizeLine(), "the image is %d bytes (%Xh), a size no QS71 part has: the programmer "
       "takes only %s bytes", size, static_cast<unsigned>(size), PartSizeList().c_str());
}

}  // namespace

void PrintFinishingError(const char* text) {
  std::printf("\nErrors: %s. \n\n", text);
  TakeErrorDetail(0, true);
}

int WriteClockDividerWords() {
  CompileState& s = g_state;
  int32_t divider = 0;
  if (!ClockDivider(s.MainClk, s.Ramp_Rate, &divider)) {
    PrintFinishingError(ErrorMessage(ErrRampRate));
    return 1;
  }
  const uint32_t word = EncodeHeaderWord(kNoRampPosition, divider);
  int r = ErrNone;
  if (s.RampDecDone == 0) r = ImageWriteWordAt(kRampDecWordPos, word);
  if (r == ErrNone && s.RampIncDone == 0) r = ImageWriteWordAt(kRampIncWordPos, word);
  if (r == ErrNone) r = ImageFlush();
  if (r == ErrNone) return 0;
  PrintFinishingError(ErrorMessage(ErrWrite));
  return 1;
}

int CheckSizeLimits(int passResult) {
  const CompileState& s = g_state;
  int32_t size = ImageLength();
  if (size > s.MaxSize || size > s.AddressLimit) {
    std::printf("\nErrors: Exceed MaxSize %x. \n\n", static_cast<unsigned>(s.MaxSize));
    return 1;
  }
  return passResult;
}

int CheckFileSizeAndPad(int passResult) {
  const CompileState& s = g_state;
  int32_t size = ImageLength();
  if (size < 0) {
    PrintFinishingError(ErrorMessage(ErrWrite));
    ExplainFillsPastEnd();
    return passResult + 1;
  }
  if (s.FileSize < size) {
    std::printf("\nErrors: Exceed user specified file size %x. \n\n",
                static_cast<unsigned>(s.FileSize));
    ExplainFillsPastEnd();
    return passResult + 1;
  }
  int r = ImageFill(0xFF, s.FileSize - size);
  if (r == ErrNone) r = ImageFlush();
  if (r == ErrNone && passResult == 0) WarnIfNoPartHoldsTheImage();
  if (r == ErrNone) return passResult;
  PrintFinishingError(ErrorMessage(ErrWrite));
  return passResult + 1;
}
