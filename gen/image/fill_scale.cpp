#include "image/fill_scale.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "compile_state.h"
#include "image/image_file.h"
#include "result_codes.h"
#include "hex.h"
#include "wrap_math.h"

namespace {

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
int WriteFillGroups(const char* text, size_t j, size_t last) {
  for (; j < last; j += 3) {
    if (text[j + 2] != '_' && text[j + 2] != '"') return ErrInternal;
    int high = HexDigitValue(text[j]);
    int low = HexDigitValue(text[j + 1]);
    if (high < 0 || low < 0) return ErrInternal;
    const uint8_t byte = static_cast<uint8_t>(high * 16 + low);
    std::printf(" %02x", static_cast<unsigned>(byte));
    int r = ImageWrite(&byte, 1);
    if (r == ErrNone) r = ImageFlush();
    if (r != ErrNone) return r;
  }
  return ErrNone;
}

}  // namespace

// A fill runs between pass-2 writes that rely on nothing but absolute seeks, yet it puts the
// stream back where it found it, as the tool always has.
int FillData(const char* literal) {
  const size_t length = literal == nullptr ? 0 : std::strlen(literal);
  if (length < 2) return ErrInternal;
  const size_t last = length - 1;  // the closing quote
  int32_t address = 0;
  size_t groups = 0;
  if (!ParseFillAddress(literal, last, &address, &groups)) return ErrInternal;
  std::printf("******* FillData: @%06x", static_cast<unsigned>(address));
  const int32_t resume = ImageTell();
  if (resume < 0) return ErrWrite;
  int r = ImageSeek(address);
  if (r != ErrNone) return r;
  r = WriteFillGroups(literal, groups, last);
  const int back = ImageSeek(resume);
  if (r == ErrNone) r = back;
  if (r == ErrNone) std::printf("\n");
  return r;
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

}  // namespace

int SetScale(const char* literal) {
  const size_t length = literal == nullptr ? 0 : std::strlen(literal);
  if (length < 2) return ErrInternal;
  const size_t last = length - 1;
  const char* slash = static_cast<const char*>(std::memchr(literal + 1, '/', last - 1));
  if (slash == nullptr) return ErrInternal;
  const size_t split = static_cast<size_t>(slash - literal);
  int32_t numerator = 0;
  int32_t denominator = 0;
  if (!ParseDecimal(literal, 1, split, &numerator)) return ErrInternal;
  if (split + 1 >= last) return ErrInternal;  // no digit after the '/'
  if (!ParseDecimal(literal, split + 1, last, &denominator)) return ErrInternal;
  if (denominator == 0) return ErrInternal;
  g_state.Scale = static_cast<double>(numerator) / static_cast<double>(denominator);
  std::printf("******* SetScale: <%d/%d>=%f\n", numerator, denominator, g_state.Scale);
  return ErrNone;
}
