#include "image/image_skeleton.h"

#include <cstdio>

#include "byte_order.h"
#include "codec_tables.h"
#include "compile_state.h"
#include "image/cfgmem_block.h"
#include "image/image_file.h"
#include "image/option_area.h"
#include "image/section_table.h"
#include "image_layout.h"
#include "result_codes.h"
#include "wrap_math.h"

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
  uint8_t bytes[2 * kUlawCodeCount];
  for (int c = 0; c < kUlawCodeCount; ++c) PutLittleEndian(bytes + 2 * c, UlawExpansion(c), 2);
  return WriteAndFlush(SystemAreaStart(g_state.FileSize), bytes, sizeof bytes);
}

int WriteStepTable() {
  uint8_t bytes[2 * kImaStepCount];
  for (int i = 0; i < kImaStepCount; ++i) {
    PutLittleEndian(bytes + 2 * i, static_cast<uint16_t>(kImaStepTable[i]), 2);
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
