#include "image/option_block.h"

#include <cstdio>
#include <cstring>

#include "compile_state.h"
#include "image/image_file.h"
#include "image/image_layout.h"
#include "script/diagnostics.h"
#include "text_util.h"
#include "wrap_math.h"

namespace {

uint8_t Low8(int32_t v) { return static_cast<uint8_t>(static_cast<uint32_t>(v)); }

void PutWord16(uint8_t* at, int32_t v) {
  at[0] = Low8(v);
  at[1] = Low8(ShiftRight(v, 8));
}

}  // namespace

// The values are not range-checked: each is masked to the bits of its place. The three low
// bits of FuncCode and bits 6, 7 of IO_Cfg appear twice because the chip reads them from two
// registers.
std::array<uint8_t, kOptionBlockSize> BuildOptionBlock(const CompileState& s) {
  std::array<uint8_t, kOptionBlockSize> b;
  b.fill(0xFF);
  const uint8_t func = static_cast<uint8_t>((s.FuncCode & 7) << 5);
  b[0] = static_cast<uint8_t>((ShiftRight(s.WakeupDly, 3) & 0x1F) | func);
  b[3] = static_cast<uint8_t>((s.SrcSpd & 3) | (7 << 2) | func);
  b[4] = Low8(ShiftRight(s.FuncCode, 3));
  b[5] = Low8(s.IO_Cfg);
  b[6] = static_cast<uint8_t>((s.DbckUi & 0xF) | ((s.DbckSi & 0xF) << 4));
  b[7] = static_cast<uint8_t>(0x3F | (s.IO_Cfg & 0xC0));
  PutWord16(&b[8], WrapSub(s.SecNum, 4) | 0x7000);
  PutWord16(&b[10], s.Vol_Cfg);
  b[12] = Low8(s.Ramp_Cfg);
  b[13] = Low8(s.MiscOpt);
  PutWord16(&b[14], s.Output);
  return b;
}

int32_t VolMapLength(int32_t volCfg) { return (ShiftRight(volCfg, 12) & 15) + 1; }

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
  std::memcpy(g_state.VolMap, map, sizeof map);
  return ErrNone;
}

namespace {

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

int WriteCfgMemBlock() {
  int r = ImageWriteAt(OptionBase(g_state.FileSize), g_state.CfgMem, sizeof g_state.CfgMem);
  return r != ErrNone ? r : ImageFlush();
}
