#include "image_finishing.h"

#include <cstdio>

#include "clock_divider.h"
#include "compile_state.h"
#include "image/image_file.h"
#include "script/diagnostics.h"

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
  if (r == ErrNone) return passResult;
  PrintFinishingError(ErrorMessage(ErrWrite));
  return passResult + 1;
}
