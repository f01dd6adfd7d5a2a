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
// write lands inside the file and a disk too full for it fails here. Where the file can be
// reserved, its blank bytes are written at the end, where nothing else went (ImageFillBlanks):
// blanking it all first and writing the sounds over it copied the image twice. The system area
// is blank now all the same, since its check reads it back before the end.
int WriteBlankImage(CompileState& s) {
  const bool kept = ImageKeepBlank(ImageOf(s), s.FileSize);
  const int32_t from = kept ? SystemAreaStart(s.FileSize) : 0;
  int r = ImageSeek(ImageOf(s), from);
  if (r == ErrNone) r = ImageFill(ImageOf(s), 0xFF, s.FileSize - from);
  return r != ErrNone ? r : ImageFlush(ImageOf(s));
}

void LowerMaxSize(CompileState& s) {
  int32_t room = WrapSub(s.AddressLimit, s.Offset);
  if (room < s.MaxSize) s.MaxSize = room;
}

void PrintReportHead(CompileState& s) {
  std::fprintf(s.Out, "GrpAdr      = %d bytes\n", s.GrpAdr);
  std::fprintf(s.Out, "MaxSize     = %x (hex)\n", static_cast<unsigned>(s.MaxSize));
  std::fprintf(s.Out, "Offset      = %x (hex)\n", static_cast<unsigned>(s.Offset));
  std::fprintf(s.Out, "FileSize    = %x (hex)\n", static_cast<unsigned>(s.FileSize));
  std::fprintf(s.Out, "SecStart    = 0x%X\n", static_cast<unsigned>(kSecStart));
  std::fprintf(s.Out, "adpcmStart  = 0x%X\n", static_cast<unsigned>(AdpcmStart(s.FileSize)));
  std::fprintf(s.Out, "TagPos      = 0x%X\n", static_cast<unsigned>(TagPos(s.FileSize)));
  std::fprintf(s.Out, "OptionStart = 0x%X\n", static_cast<unsigned>(OptionStart(s.FileSize)));
}

int WriteAndFlush(CompileState& s, int32_t position, const uint8_t* bytes, size_t n) {
  int r = ImageWriteAt(ImageOf(s), position, bytes, n);
  return r != ErrNone ? r : ImageFlush(ImageOf(s));
}

// The chip expands u-law codes through this table in its system area, not through a table of
// its own, so the encoder and the table must agree code for code.
int WriteUlawTable(CompileState& s) {
  uint8_t bytes[2 * kUlawCodeCount];
  for (int c = 0; c < kUlawCodeCount; ++c) PutLittleEndian(bytes + 2 * c, UlawExpansion(c), 2);
  return WriteAndFlush(s, SystemAreaStart(s.FileSize), bytes, sizeof bytes);
}

int WriteStepTable(CompileState& s) {
  uint8_t bytes[2 * kImaStepCount];
  for (int i = 0; i < kImaStepCount; ++i) {
    PutLittleEndian(bytes + 2 * i, static_cast<uint16_t>(kImaStepTable[i]), 2);
  }
  return WriteAndFlush(s, AdpcmStart(s.FileSize), bytes, sizeof bytes);
}

// With FileSize 13 or 14 above a multiple of 16 the tag lands on the last step sizes and
// replaces them; the layout has always been so and images in the field rely on it.
int WriteTag(CompileState& s) {
  return WriteAndFlush(s, TagPos(s.FileSize), kTagBytes, sizeof kTagBytes);
}

// Once a .CFGMEM statement was seen, its 48 bytes take the option block's place and no option
// values are listed.
int WriteOptionsOrCfgMem(CompileState& s) {
  if (s.CfgMemUsed != 0) {
    int r = WriteVolMap(s);
    return r != ErrNone ? r : WriteCfgMemBlock(s);
  }
  return WriteOptionBlock(s);
}

// The sounds' ranges are known once the section table is: the rest up to the system area stays
// blank, and is written now, so that the disk takes it while pass 2 encodes the sounds.
int BlankAfterSounds(CompileState& s) {
  const int32_t soundsEnd = WrapSub(WrapAdd(s.SoundBase, s.NextSoundStart), s.Offset);
  if (soundsEnd < 0) return ErrNone;
  return ImageFillBlanksEarly(ImageOf(s), soundsEnd, SystemAreaStart(s.FileSize));
}

}  // namespace

int AddVolMap(CompileState& s) {
  if (s.FileSize < kSystemAreaSize) return ErrFileSize;
  int r = WriteBlankImage(s);
  if (r != ErrNone) return r;
  LowerMaxSize(s);
  PrintReportHead(s);
  if ((r = WriteUlawTable(s)) != ErrNone) return r;
  if ((r = WriteStepTable(s)) != ErrNone) return r;
  if ((r = WriteTag(s)) != ErrNone) return r;
  if ((r = WriteOptionsOrCfgMem(s)) != ErrNone) return r;
  if ((r = WriteSectionTable(s)) != ErrNone) return r;
  return BlankAfterSounds(s);
}
