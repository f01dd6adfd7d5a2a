#include "image/fill_scale.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <string>
#include <vector>

#include "compile_state.h"
#include "error_report.h"
#include "hex.h"
#include "image/image_file.h"
#include "image_layout.h"
#include "result_codes.h"
#include "system_area.h"
#include "warnings.h"
#include "text_format.h"
#include "wrap_math.h"

namespace {

// What the compile placed, by file position (end exclusive); Offset moves all but the header.
struct PlacedRegion {
  const char* what;
  int64_t start;
  int64_t end;
};

std::vector<PlacedRegion> PlacedRegions(CompileState& s) {
  const int64_t groups = int64_t{s.SecBase[0]} - s.Offset;
  const int64_t sounds = int64_t{s.SoundBase} - s.Offset;
  return {
      {"the header", kSection0EntryPos, kSecStart},
      {"the section table", kSecStart, int64_t{kSecStart} + 4 * int64_t{s.MaxSection}},
      {"the group tables", groups, sounds},
      {"the sound data", sounds, sounds + s.NextSoundStart},
  };
}

std::string SpanText(int64_t start, int64_t end) {
  if (end - start == 1) return Format("%llXh", static_cast<long long>(start));
  return Format("%llXh..%llXh", static_cast<long long>(start), static_cast<long long>(end - 1));
}

void WarnIfOverPlaced(CompileState& s, const FillRecord& fill) {
  const int64_t start = fill.address;
  const int64_t end = start + static_cast<int64_t>(fill.bytes.size());
  for (const PlacedRegion& region : PlacedRegions(s)) {
    if (start >= region.end || region.start >= end || region.start >= region.end) continue;
    Warn(s, fill.line, "$FILL at %s overwrites %s (%s), bytes that the compile places: one of the "
         "two is lost", SpanText(start, end).c_str(), region.what,
         SpanText(region.start, region.end).c_str());
  }
}

// A literal the fill syntax does not take: the chip tools only say "Internal Error".
int MalformedFill(CompileState& s, const char* literal) {
  SetErrorDetail(s, "malformed $FILL text %s: write \"ADDRESS:HH_HH_...\", a hex address, a colon "
                 "and bytes of two hex digits separated by _", literal);
  return ErrInternal;
}

int DecimalDigitValue(char c) { return (c >= '0' && c <= '9') ? c - '0' : -1; }

// Reads the hex address from text[1] up to the ':' (or up to the closing quote when there is
// none). Sets *groups to the index after the ':', or to last when no groups follow.
bool ParseFillAddress(const char* text, size_t last, int32_t* address, size_t* groups) {
  int32_t a = 0;
  size_t i = 1;
  for (; i < last; ++i) {
    if (text[i] == ':') break;
    int d = HexDigitValue(text[i]);
    if (d < 0) return false;
    a = WrapAdd(WrapMul(a, 16), d);
  }
  *address = a;
  *groups = i < last ? i + 1 : last;
  return true;
}

// Writes the byte groups from text[j]; each is two hex digits closed by '_' or, for the last
// one, by the closing quote. Every byte is flushed as it goes, so the bytes before a faulty
// group stay in the image.
int WriteFillGroups(CompileState& s, const char* text, size_t j, size_t last,
                    std::vector<uint8_t>* written) {
  for (; j < last; j += 3) {
    if (text[j + 2] != '_' && text[j + 2] != '"') return MalformedFill(s, text);
    int high = HexDigitValue(text[j]);
    int low = HexDigitValue(text[j + 1]);
    if (high < 0 || low < 0) return MalformedFill(s, text);
    const uint8_t byte = static_cast<uint8_t>(high * 16 + low);
    std::fprintf(s.Out, " %02x", static_cast<unsigned>(byte));
    int r = ImageWrite(ImageOf(s), &byte, 1);
    if (r == ErrNone) r = ImageFlush(ImageOf(s));
    if (r != ErrNone) return r;
    written->push_back(byte);
  }
  return ErrNone;
}

}  // namespace

// A fill runs between pass-2 writes that rely on nothing but absolute seeks, yet it puts the
// stream back where it found it, as the tool always has.
int FillData(CompileState& s, const char* literal, int32_t line) {
  const size_t length = literal == nullptr ? 0 : std::strlen(literal);
  if (length < 2) return MalformedFill(s, literal == nullptr ? "" : literal);
  const size_t last = length - 1;  // the closing quote
  int32_t address = 0;
  size_t groups = 0;
  if (!ParseFillAddress(literal, last, &address, &groups)) return MalformedFill(s, literal);
  std::fprintf(s.Out, "******* FillData: @%06x", static_cast<unsigned>(address));
  const int32_t resume = ImageTell(ImageOf(s));
  if (resume < 0) return ErrWrite;
  int r = ImageSeek(ImageOf(s), address);
  if (r != ErrNone) return r;
  FillRecord fill{line, address, {}};
  r = WriteFillGroups(s, literal, groups, last, &fill.bytes);
  if (!fill.bytes.empty()) {
    WarnIfOverPlaced(s, fill);
    s.Fills.push_back(std::move(fill));
  }
  const int back = ImageSeek(ImageOf(s), resume);
  if (r == ErrNone) r = back;
  if (r == ErrNone) std::fprintf(s.Out, "\n");
  return r;
}

namespace {

struct FactoryClash {
  int32_t line = 0;
  uint32_t distance = 0;
  uint8_t byte = 0xFF;
};

// The last fill decides each byte: pass 2 writes nothing else into the system area, whose
// factory cells the skeleton leaves at FF.
std::vector<FactoryClash> FactoryClashes(CompileState& s) {
  const int64_t base = int64_t{s.FileSize} - qs71::kSystemAreaSize;
  std::vector<uint8_t> block(qs71::kSystemAreaSize, 0xFF);
  std::vector<int32_t> lines(qs71::kSystemAreaSize, 0);
  for (const FillRecord& fill : s.Fills) {
    for (size_t i = 0; i < fill.bytes.size(); ++i) {
      const int64_t at = fill.address + static_cast<int64_t>(i) - base;
      if (at < 0 || at >= qs71::kSystemAreaSize) continue;
      block[static_cast<size_t>(at)] = fill.bytes[i];
      lines[static_cast<size_t>(at)] = fill.line;
    }
  }
  std::vector<FactoryClash> clashes;
  for (uint32_t k = qs71::kSystemAreaSize; k > 0; --k) {
    const size_t at = qs71::SystemAreaOffset(k);
    const uint8_t bits = qs71::FactoryBits(k);
    if ((block[at] & bits) == bits) continue;
    bool seen = false;
    for (const FactoryClash& c : clashes) seen = seen || c.line == lines[at];
    if (!seen) clashes.push_back({lines[at], k, block[at]});
  }
  return clashes;
}

}  // namespace

int CheckFactoryCells(CompileState& s) {
  int errors = 0;
  for (const FactoryClash& c : FactoryClashes(s)) {
    const int64_t offset = int64_t{s.FileSize} - c.distance;
    const uint8_t bits = qs71::FactoryBits(c.distance);
    SetErrorDetail(s, "offset %llXh, k = %u from the end of the image, is a factory cell: the part "
                   "keeps its own trim there in the bits %02X, and the byte %02X would clear some of "
                   "them for good, destroying the part's factory trim; a $FILL must leave those bits 1",
                   static_cast<long long>(offset), c.distance, bits, c.byte);
    const std::string where = Format("byte %02X at %llXh, k=%u from the end", c.byte,
                                     static_cast<long long>(offset), c.distance);
    ReportError(s, ErrFactoryCell, c.line, where.c_str());
    ++errors;
  }
  return errors;
}

// qs71prog refuses more than a $FILL over a factory cell: any system-area byte whose write
// leaves a part failing its own check (a tag, an enable bit, the marker). Said here as advice,
// never counted, so that such an image is not found out only at the programmer.
void AdviseSpoiledSystemArea(CompileState& s) {
  const long from = static_cast<long>(s.FileSize) - static_cast<long>(qs71::kSystemAreaSize);
  std::vector<uint8_t> block(qs71::kSystemAreaSize);
  if (s.Image == nullptr || from < 0 || std::fflush(s.Image) != 0 || std::fseek(s.Image, from, SEEK_SET) != 0 ||
      std::fread(block.data(), 1, block.size(), s.Image) != block.size()) {
    return;
  }
  const uint32_t k = qs71::FactoryCellClash(block);
  if (k == 0) return;
  const uint8_t byte = block[qs71::SystemAreaOffset(k)];
  const std::string name = qs71::SpoiledByteName(k, byte, qs71::SecondStageOf(block));
  Advise(s, 0, "offset %llXh, k = %u from the end of the image, holds %02X, which spoils %s of every "
         "part it is written to: qs71prog refuses this image, even with --force",
         static_cast<long long>(from + qs71::kSystemAreaSize - k), k, byte,
         name.empty() ? "the factory trim" : name.c_str());
}

void ExplainFillsPastEnd(CompileState& s) {
  const int64_t size = s.FileSize;
  for (const FillRecord& fill : s.Fills) {
    const int64_t end = int64_t{fill.address} + static_cast<int64_t>(fill.bytes.size());
    if (end <= size) continue;
    PrintScriptPlace(s, fill.line);
    std::fprintf(s.Err, "error: $FILL writes up to %llXh, past the end of the image, which "
                 "$FILESIZE makes %llXh bytes long; a fill must lie inside the image\n",
                 static_cast<long long>(end - 1), static_cast<long long>(size));
  }
}

namespace {

// Accumulates decimal digits of text[from..to); false on any other character.
bool ParseDecimal(const char* text, size_t from, size_t to, int32_t* value) {
  int32_t v = 0;
  for (size_t i = from; i < to; ++i) {
    int d = DecimalDigitValue(text[i]);
    if (d < 0) return false;
    v = WrapAdd(WrapMul(v, 10), d);
  }
  *value = v;
  return true;
}

int MalformedScale(CompileState& s, const char* literal) {
  SetErrorDetail(s,
                 "malformed $SCALING text %s: write \"NUMERATOR/DENOMINATOR\" in decimal digits, "
                 "with a denominator other than 0", literal);
  return ErrInternal;
}

}  // namespace

int SetScale(CompileState& s, const char* literal) {
  const size_t length = literal == nullptr ? 0 : std::strlen(literal);
  if (length < 2) return MalformedScale(s, "");
  const size_t last = length - 1;
  const char* slash = static_cast<const char*>(std::memchr(literal + 1, '/', last - 1));
  if (slash == nullptr) return MalformedScale(s, literal);
  const size_t split = static_cast<size_t>(slash - literal);
  int32_t numerator = 0;
  int32_t denominator = 0;
  if (!ParseDecimal(literal, 1, split, &numerator)) return MalformedScale(s, literal);
  if (split + 1 >= last) return MalformedScale(s, literal);  // no digit after the '/'
  if (!ParseDecimal(literal, split + 1, last, &denominator)) return MalformedScale(s, literal);
  if (denominator == 0) return MalformedScale(s, literal);
  s.Scale = static_cast<double>(numerator) / static_cast<double>(denominator);
  std::fprintf(s.Out, "******* SetScale: <%d/%d>=%f\n", numerator, denominator, s.Scale);
  return ErrNone;
}
