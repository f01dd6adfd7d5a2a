#include "image_finishing.h"

#include <cstdio>
#include <iterator>
#include <string>

#include "clock_divider.h"
#include "compile_state.h"
#include "image/image_file.h"
#include "script/diagnostics.h"
#include "script/statements.h"
#include "warnings.h"

namespace {

// The OTP sizes of the family's parts; the programmer refuses an image of any other size.
const int32_t kPartSizes[] = {262144, 524288, 1048576, 2097152};

std::string PartSizeList() {
  std::string list;
  const size_t count = std::size(kPartSizes);
  for (size_t i = 0; i < count; ++i) {
    list += i == 0 ? "" : i + 1 == count ? " or " : ", ";
    list += std::to_string(kPartSizes[i]);
  }
  return list;
}

void WarnIfNoPartHoldsTheImage() {
  const int32_t size = g_state.FileSize;
  for (int32_t part : kPartSizes) {
    if (size == part) return;
  }
  Warn(FileSizeLine(), "the image is %d bytes (%Xh), a size no QS71 part has: the programmer "
       "takes only %s bytes", size, static_cast<unsigned>(size), PartSizeList().c_str());
}

}  // namespace

void PrintFinishingError(const char* text) { std::printf("\nErrors: %s. \n\n", text); }

int WriteClockDividerWords() {
  CompileState& s = g_state;
  int32_t divider = 0;
  if (!ClockDivider(s.MainClk, s.Ramp_Rate, &divider)) {
    PrintFinishingError(ErrorMessage(ErrRampRate));
    return 1;
  }
  // The upper 24 bits all ones mark "no ramp sound here" for the chip.
  uint32_t word = static_cast<uint32_t>(divider) | 0xFFFFFF00u;
  int r = ErrNone;
  if (s.RampDecDone == 0) r = ImageWriteWordAt(8, word);
  if (r == ErrNone && s.RampIncDone == 0) r = ImageWriteWordAt(12, word);
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
    return passResult + 1;
  }
  if (s.FileSize < size) {
    std::printf("\nErrors: Exceed user specified file size %x. \n\n",
                static_cast<unsigned>(s.FileSize));
    return passResult + 1;
  }
  int r = ImageFill(0xFF, s.FileSize - size);
  if (r == ErrNone) r = ImageFlush();
  if (r == ErrNone && passResult == 0) WarnIfNoPartHoldsTheImage();
  if (r == ErrNone) return passResult;
  PrintFinishingError(ErrorMessage(ErrWrite));
  return passResult + 1;
}
