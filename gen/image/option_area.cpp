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
#include "hex.h"

int ParseVolMap(const char* literal) {
  const size_t length = literal == nullptr ? 0 : std::strlen(literal);
  if (length < 2) return ErrInternal;
  const size_t digits = length - 2;
  if (digits > 2 * kVolMapEntries || digits % 2 != 0) return ErrInternal;
  int32_t map[kVolMapEntries];
  for (int32_t& entry : map) entry = 0x80;
  for (size_t k = 0; k < digits / 2; ++k) {
    int high = HexDigitValue(literal[1 + 2 * k]);
    int low = HexDigitValue(literal[2 + 2 * k]);
    if (high < 0 || low < 0) return ErrInternal;
    map[k] = high * 16 + low;
  }
  std::copy(std::begin(map), std::end(map), g_state.VolMap.begin());
  return ErrNone;
}

namespace {

uint8_t Low8(int32_t v) { return static_cast<uint8_t>(static_cast<uint32_t>(v)); }

void PrintOptionValues() {
  const CompileState& s = g_state;
  auto hex = [](int32_t v) { return static_cast<unsigned>(v); };
  std::printf("> WakeupDly     = %x\n", hex(s.WakeupDly));
  std::printf("> SrcSpd        = %x\n", hex(s.SrcSpd));
  std::printf("> FuncCode      = %x\n", hex(s.FuncCode));
  std::printf("> MiscOpt       = %x\n", hex(s.MiscOpt));
  std::printf("> IO_Cfg        = %x\n", hex(s.IO_Cfg));
  std::printf("> DbckUi        = %x\n", hex(s.DbckUi));
  std::printf("> DbckSi        = %x\n", hex(s.DbckSi));
  std::printf("> Section Count = %d\n", s.MaxSection);
  std::printf("> Section Num   = %d\n", s.SecNum);
  std::printf("> Output Option = %x\n", hex(s.Output));
  std::printf("> Ramp_Cfg      = %x\n", hex(s.Ramp_Cfg));
  std::printf("> Vol_Cfg       = %x\n", hex(s.Vol_Cfg));
}

}  // namespace

int WriteOptionBlock() {
  PrintOptionValues();
  const std::array<uint8_t, kOptionBlockSize> block = BuildOptionBlock(g_state);
  int r = WriteVolMap();
  if (r == ErrNone) r = ImageWriteAt(OptionStart(g_state.FileSize), block.data(), block.size());
  return r != ErrNone ? r : ImageFlush();
}

// The map has one byte per volume level; the listing shows each entry's full value so that a
// step never set by $VOL_MAP stands out as ffffffffh.
int WriteVolMap() {
  int r = ImageSeek(VolMapPos(g_state.FileSize));
  if (r != ErrNone) return r;
  std::printf("> AddVolMap:    = ");
  const int32_t n = VolMapLength(g_state.Vol_Cfg);
  uint8_t bytes[kVolMapEntries];
  for (int32_t k = 0; k < n; ++k) {
    bytes[k] = Low8(g_state.VolMap[k]);
    std::printf(" %02xh", static_cast<unsigned>(g_state.VolMap[k]));
  }
  r = ImageWrite(bytes, static_cast<size_t>(n));
  if (r == ErrNone) r = ImageFlush();
  std::printf("\n");
  return r;
}
