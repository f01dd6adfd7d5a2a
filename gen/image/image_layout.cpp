#include "image/image_layout.h"

#include <cstdio>

#include "audio/codec_tables.h"
#include "compile_state.h"
#include "image/image_file.h"
#include "image/option_block.h"
#include "image/section_table.h"
#include "script/diagnostics.h"
#include "wrap_math.h"

int32_t SectionEntryPos(int32_t section) {
  if (section == 0) return kSection0EntryPos;
  return WrapAdd(kSecStart, WrapMul(4, WrapSub(section, 1)));
}

int32_t GroupStart(int32_t maxSection) {
  return WrapAdd(kSecStart, WrapMul(16, WrapAdd(maxSection, 3) / 4));
}

int32_t SystemAreaStart(int32_t fileSize) { return WrapSub(fileSize, kSystemAreaSize); }

int32_t AdpcmStart(int32_t fileSize) { return WrapSub(fileSize, 256); }

int32_t OptionBase(int32_t fileSize) {
  // Rounded up with the remainder's sign taken from the dividend, as the chip tools always
  // did; for the sizes AddVolMap accepts the value is positive anyway.
  int32_t base = WrapSub(fileSize, 78);
  int32_t rest = base % 16;
  if (rest > 0) return WrapAdd(base, 16 - rest);
  return WrapSub(base, rest);
}

int32_t TagPos(int32_t fileSize) { return WrapSub(OptionBase(fileSize), 2); }

int32_t OptionStart(int32_t fileSize) { return WrapAdd(OptionBase(fileSize), 32); }

int32_t VolMapPos(int32_t fileSize) { return WrapAdd(OptionBase(fileSize), 48); }

namespace {

// The image exists at its full size before anything is placed in it, so that every later
// write lands inside the file.
int WriteBlankImage() {
  int r = ImageSeek(0);
  if (r == ErrNone) r = ImageFill(0xFF, g_state.FileSize);
  return r != ErrNone ? r : ImageFlush();
}

void LowerMaxSize() {
  CompileState& s = g_state;
  int32_t room = WrapSub(s.AddressLimit, s.Offset);
  if (room < s.MaxSize) s.MaxSize = room;
}

void PrintReportHead() {
  const CompileState& s = g_state;
  std::printf("GrpAdr      = %d bytes\n", s.GrpAdr);
  std::printf("MaxSize     = %x (hex)\n", static_cast<unsigned>(s.MaxSize));
  std::printf("Offset      = %x (hex)\n", static_cast<unsigned>(s.Offset));
  std::printf("FileSize    = %x (hex)\n", static_cast<unsigned>(s.FileSize));
  std::printf("SecStart    = 0x%X\n", static_cast<unsigned>(kSecStart));
  std::printf("adpcmStart  = 0x%X\n", static_cast<unsigned>(AdpcmStart(s.FileSize)));
  std::printf("TagPos      = 0x%X\n", static_cast<unsigned>(TagPos(s.FileSize)));
  std::printf("OptionStart = 0x%X\n", static_cast<unsigned>(OptionStart(s.FileSize)));
}

int WriteAndFlush(int32_t position, const uint8_t* bytes, size_t n) {
  int r = ImageWriteAt(position, bytes, n);
  return r != ErrNone ? r : ImageFlush();
}

// The chip expands u-law codes through this table in its system area, not through a table of
// its own, so the encoder and the table must agree code for code.
int WriteUlawTable() {
  uint8_t bytes[256];
  for (int c = 0; c < 128; ++c) {
    uint16_t v = UlawExpansion(c);
    bytes[2 * c] = static_cast<uint8_t>(v);
    bytes[2 * c + 1] = static_cast<uint8_t>(v >> 8);
  }
  return WriteAndFlush(SystemAreaStart(g_state.FileSize), bytes, sizeof bytes);
}

int WriteStepTable() {
  uint8_t bytes[2 * kImaStepCount];
  for (int i = 0; i < kImaStepCount; ++i) {
    uint16_t v = static_cast<uint16_t>(kImaStepTable[i]);
    bytes[2 * i] = static_cast<uint8_t>(v);
    bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return WriteAndFlush(AdpcmStart(g_state.FileSize), bytes, sizeof bytes);
}

// With FileSize 13 or 14 above a multiple of 16 the tag lands on the last step sizes and
// replaces them; the layout has always been so and images in the field rely on it.
int WriteTag() { return WriteAndFlush(TagPos(g_state.FileSize), kTagBytes, sizeof kTagBytes); }

// Once a .CFGMEM statement was seen, its 48 bytes take the option block's place and no option
// values are listed.
int WriteOptionsOrCfgMem() {
  if (g_state.CfgMemUsed != 0) {
    int r = WriteVolMap();
    return r != ErrNone ? r : WriteCfgMemBlock();
  }
  return WriteOptionBlock();
}

}  // namespace

int AddVolMap() {
  if (g_state.FileSize < kSystemAreaSize) return ErrFileSize;
  int r = WriteBlankImage();
  if (r != ErrNone) return r;
  LowerMaxSize();
  PrintReportHead();
  if ((r = WriteUlawTable()) != ErrNone) return r;
  if ((r = WriteStepTable()) != ErrNone) return r;
  if ((r = WriteTag()) != ErrNone) return r;
  if ((r = WriteOptionsOrCfgMem()) != ErrNone) return r;
  return WriteSectionTable();
}
