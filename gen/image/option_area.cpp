#include "image/option_area.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "compile_state.h"
#include "image/image_file.h"
#include "image_layout.h"
#include "option_block.h"
#include "result_codes.h"
#include "warnings.h"
#include "hex.h"

namespace {

// The chip tools report a malformed map only as an internal error; the detail says what to write.
int MalformedVolMap(CompileState& s, const char* literal) {
  SetErrorDetail(s, "malformed $VOL_MAP text %s: write up to %d levels, each two hex digits "
                 "(00 to FF), one for each volume step, such as \"204080FF\"",
                 literal == nullptr ? "" : literal, kVolMapEntries);
  return ErrInternal;
}

}  // namespace

int ParseVolMap(CompileState& s, const char* literal) {
  const size_t length = literal == nullptr ? 0 : std::strlen(literal);
  if (length < 2) return MalformedVolMap(s, literal);
  const size_t digits = length - 2;
  if (digits > 2 * kVolMapEntries || digits % 2 != 0) return MalformedVolMap(s, literal);
  int32_t map[kVolMapEntries];
  for (int32_t& entry : map) entry = 0x80;
  for (size_t k = 0; k < digits / 2; ++k) {
    int high = HexDigitValue(literal[1 + 2 * k]);
    int low = HexDigitValue(literal[2 + 2 * k]);
    if (high < 0 || low < 0) return MalformedVolMap(s, literal);
    map[k] = high * 16 + low;
  }
  std::copy(std::begin(map), std::end(map), s.VolMap.begin());
  return ErrNone;
}

namespace {

uint8_t Low8(int32_t v) { return static_cast<uint8_t>(static_cast<uint32_t>(v)); }

void PrintOptionValues(CompileState& s) {
  auto hex = [](int32_t v) { return static_cast<unsigned>(v); };
  std::fprintf(s.Out, "> WakeupDly     = %x\n", hex(s.WakeupDly));
  std::fprintf(s.Out, "> SrcSpd        = %x\n", hex(s.SrcSpd));
  std::fprintf(s.Out, "> FuncCode      = %x\n", hex(s.FuncCode));
  std::fprintf(s.Out, "> MiscOpt       = %x\n", hex(s.MiscOpt));
  std::fprintf(s.Out, "> IO_Cfg        = %x\n", hex(s.IO_Cfg));
  std::fprintf(s.Out, "> DbckUi        = %x\n", hex(s.DbckUi));
  std::fprintf(s.Out, "> DbckSi        = %x\n", hex(s.DbckSi));
  std::fprintf(s.Out, "> Section Count = %d\n", s.MaxSection);
  std::fprintf(s.Out, "> Section Num   = %d\n", s.SecNum);
  std::fprintf(s.Out, "> Output Option = %x\n", hex(s.Output));
  std::fprintf(s.Out, "> Ramp_Cfg      = %x\n", hex(s.Ramp_Cfg));
  std::fprintf(s.Out, "> Vol_Cfg       = %x\n", hex(s.Vol_Cfg));
}

}  // namespace

int WriteOptionBlock(CompileState& s) {
  PrintOptionValues(s);
  const std::array<uint8_t, kOptionBlockSize> block = BuildOptionBlock(s);
  int r = WriteVolMap(s);
  if (r == ErrNone) {
    r = ImageWriteAt(ImageOf(s), OptionStart(s.FileSize), block.data(), block.size());
  }
  return r != ErrNone ? r : ImageFlush(ImageOf(s));
}

// The map has one byte per volume level; the listing shows each entry's full value so that a
// step never set by $VOL_MAP stands out as ffffffffh.
int WriteVolMap(CompileState& s) {
  int r = ImageSeek(ImageOf(s), VolMapPos(s.FileSize));
  if (r != ErrNone) return r;
  std::fprintf(s.Out, "> AddVolMap:    = ");
  const int32_t n = VolMapLength(s.Vol_Cfg);
  uint8_t bytes[kVolMapEntries];
  for (int32_t k = 0; k < n; ++k) {
    bytes[k] = Low8(s.VolMap[k]);
    std::fprintf(s.Out, " %02xh", static_cast<unsigned>(s.VolMap[k]));
  }
  r = ImageWrite(ImageOf(s), bytes, static_cast<size_t>(n));
  if (r == ErrNone) r = ImageFlush(ImageOf(s));
  std::fprintf(s.Out, "\n");
  return r;
}
