#include "image/fill_scale.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <string>
#include <vector>

#include "compile_state.h"
#include "hex.h"
#include "image/image_file.h"
#include "image_layout.h"
#include "result_codes.h"
#include "script/diagnostics.h"
#include "system_area.h"
#include "warnings.h"
#include "text_format.h"
#include "wrap_math.h"

namespace {

struct FillRecord {
  int32_t line;
  int32_t address;
  std::vector<uint8_t> bytes;
};

std::vector<FillRecord> g_fills;

// What the compile placed, by file position (end exclusive); Offset moves all but the header.
struct PlacedRegion {
  const char* what;
  int64_t start;
  int64_t end;
};

std::vector<PlacedRegion> PlacedRegions() {
  const CompileState& s = g_state;
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

void WarnIfOverPlaced(const FillRecord& fill) {
  const int64_t start = fill.address;
  const int64_t end = start + static_cast<int64_t>(fill.bytes.size());
  for (const PlacedRegion& region : PlacedRegions()) {
    if (start >= region.end || region.start >= end || region.start >= region.end) continue;
    Warn(fill.line, "$FILL at %s overwrites %s (%s), bytes that the compile places: one of the "
         "two is lost", SpanText(start, end).c_str(), region.what,
         SpanText(region.start, region.end).c_str());
  }
}

// A literal the fill syntax does not take: the chip tools only say "Internal Error".
int MalformedFill(const char* literal) {
  SetErrorDetail("malformed $FILL text %s: write \"ADDRESS:HH_HH_...\", a hex address, a colon "
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
int WriteFillGroups(const char* text, size_t j, size_t last, std::vector<uint8_t>* written) {
  for (; j < last; j += 3) {
    if (text[j + 2] != '_' && text[j + 2] != '"') return MalformedFill(text);
    int high = HexDigitValue(text[j]);
    int low = HexDigitValue(text[j + 1]);
    if (high < 0 || low < 0) return MalformedFill(text);
    const uint8_t byte = static_cast<uint8_t>(high * 16 + low);
    std::printf(" %02x", static_cast<unsigned>(byte));
    int r = ImageWrite(&byte, 1);
    if (r == ErrNone) r = ImageFlush();
    if (r != ErrNone) return r;
    written->push_back(byte);
  }
  return ErrNone;
}

}  // namespace

// A fill runs between pass-2 writes that rely on nothing but absolute seeks, yet it puts the
// stream back where it found it, as the tool always has.
int FillData(const char* literal, int32_t line) {
  const size_t length = literal == nullptr ? 0 : std::strlen(literal);
  if (length < 2) return MalformedFill(literal == nullptr ? "" : literal);
  const size_t last = length - 1;  // the closing quote
  int32_t address = 0;
  size_t groups = 0;
  if (!ParseFillAddress(literal, last, &address, &groups)) return MalformedFill(literal);
  std::printf("******* FillData: @%06x", static_cast<unsigned>(address));
  const int32_t resume = ImageTell();
  if (resume < 0) return ErrWrite;
  int r = ImageSeek(address);
  if (r != ErrNone) return r;
  FillRecord fill{line, address, {}};
  r = WriteFillGroups(literal, groups, last, &fill.bytes);
  if (!fill.bytes.empty()) {
    WarnIfOverPlaced(fill);
    g_fills.push_back(std::move(fill));
  }
  const int back = ImageSeek(resume);
  if (r == ErrNone) r = back;
  if (r == ErrNone) std::printf("\n");
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
std::vector<FactoryClash> FactoryClashes() {
  const int64_t base = int64_t{g_state.FileSize} - qs71::kSystemAreaSize;
  std::vector<uint8_t> block(qs71::kSystemAreaSize, 0xFF);
  std::vector<int32_t> lines(qs71::kSystemAreaSize, 0);
  for (const FillRecord& fill : g_fills) {
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

int CheckFactoryCells() {
  int errors = 0;
  for (const FactoryClash& c : FactoryClashes()) {
    const int64_t offset = int64_t{g_state.FileSize} - c.distance;
    const uint8_t bits = qs71::FactoryBits(c.distance);
    SetErrorDetail("offset %llXh, k = %u from the end of the image, is a factory cell: the part "
                   "keeps its own trim there in the bits %02X, and the byte %02X would clear some of "
                   "them for good, destroying the part's factory trim; a $FILL must leave those bits 1",
                   static_cast<long long>(offset), c.distance, bits, c.byte);
    const std::string where = Format("byte %02X at %llXh, k=%u from the end", c.byte,
                                     static_cast<long long>(offset), c.distance);
    ReportError(ErrFactoryCell, c.line, where.c_str());
    ++errors;
  }
  return errors;
}

void ExplainFillsPastEnd() {
  const int64_t size = g_state.FileSize;
  for (const FillRecord& fill : g_fills) {
    const int64_t end = int64_t{fill.address} + static_cast<int64_t>(fill.bytes.size());
    if (end <= size) continue;
    PrintScriptPlace(fill.line);
    std::fprintf(stderr, "error: $FILL writes up to %llXh, past the end of the image, which "
                 "$FILESIZE makes %llXh bytes long; a fill must lie inside the image\n",
                 static_cast<long long>(end - 1), static_cast<long long>(size));
  }
}

void ResetFills() { g_fills.clear(); }

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

int MalformedScale(const char* literal) {
  SetErrorDetail("malformed $SCALING text %s: write \"NUMERATOR/DENOMINATOR\" in decimal digits, "
                 "with a denominator other than 0", literal);
  return ErrInternal;
}

}  // namespace

int SetScale(const char* literal) {
  const size_t length = literal == nullptr ? 0 : std::strlen(literal);
  if (length < 2) return MalformedScale("");
  const size_t last = length - 1;
  const char* slash = static_cast<const char*>(std::memchr(literal + 1, '/', last - 1));
  if (slash == nullptr) return MalformedScale(literal);
  const size_t split = static_cast<size_t>(slash - literal);
  int32_t numerator = 0;
  int32_t denominator = 0;
  if (!ParseDecimal(literal, 1, split, &numerator)) return MalformedScale(literal);
  if (split + 1 >= last) return MalformedScale(literal);  // no digit after the '/'
  if (!ParseDecimal(literal, split + 1, last, &denominator)) return MalformedScale(literal);
  if (denominator == 0) return MalformedScale(literal);
  g_state.Scale = static_cast<double>(numerator) / static_cast<double>(denominator);
  std::printf("******* SetScale: <%d/%d>=%f\n", numerator, denominator, g_state.Scale);
  return ErrNone;
}
