#include "image/image_file.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "byte_order.h"
#include "file_system.h"
#include "result_codes.h"
#include "text_format.h"

namespace {

// The chip tools say only "Fatel Write Operation"; the system knows why.
int WriteFailed(const ImageStream& image) {
  const std::string reason = LastSystemError();
  if (image.detail != nullptr) {
    *image.detail = Format("cannot write the image %s: %s", image.name, reason.c_str());
  }
  return ErrWrite;
}

// Joins [from, to) to the written ranges, merging those it overlaps or touches.
void MarkWritten(ImageBlanks* blanks, int64_t from, int64_t to) {
  if (to > blanks->size) to = blanks->size;
  if (from >= to) return;
  auto& written = blanks->written;
  auto next = written.upper_bound(from);
  if (next != written.begin() && std::prev(next)->second >= from) {
    --next;
    from = next->first;
    to = std::max(to, next->second);
    next = written.erase(next);
  }
  while (next != written.end() && next->first <= to) {
    to = std::max(to, next->second);
    next = written.erase(next);
  }
  written.emplace_hint(next, from, to);
}

int FillBlank(const ImageStream& image, int64_t from, int64_t to) {
  if (to <= from) return ErrNone;
  int r = ImageSeek(image, static_cast<int32_t>(from));
  return r != ErrNone ? r : ImageFill(image, 0xFF, static_cast<int32_t>(to - from));
}

}  // namespace

int ImageSeek(const ImageStream& image, int32_t position) {
  if (position < 0) return ErrFilePosition;
  if (image.file == nullptr) return ErrWrite;
  if (std::fseek(image.file, position, SEEK_SET) != 0) return WriteFailed(image);
  return ErrNone;
}

int ImageWrite(const ImageStream& image, const void* data, size_t n) {
  if (image.file == nullptr) return ErrWrite;
  if (n == 0) return ErrNone;
  const bool tracked = image.blanks != nullptr && image.blanks->size > 0;
  const long position = tracked ? std::ftell(image.file) : 0;
  if (position < 0) return WriteFailed(image);
  if (std::fwrite(data, 1, n, image.file) != n) return WriteFailed(image);
  if (tracked) MarkWritten(image.blanks, position, position + static_cast<int64_t>(n));
  return ErrNone;
}

int ImageWriteAt(const ImageStream& image, int32_t position, const void* data, size_t n) {
  int r = ImageSeek(image, position);
  return r != ErrNone ? r : ImageWrite(image, data, n);
}

int ImageWriteWordAt(const ImageStream& image, int32_t position, uint32_t value) {
  uint8_t bytes[4];
  PutLittleEndian(bytes, value, 4);
  return ImageWriteAt(image, position, bytes, sizeof bytes);
}

int ImageFill(const ImageStream& image, uint8_t byte, int32_t count) {
  if (count <= 0) return ErrNone;
  // Written in blocks so that a 256 MB image does not need 256 MB of memory.
  const std::vector<uint8_t> block(65536, byte);
  while (count > 0) {
    size_t n = count < 65536 ? static_cast<size_t>(count) : block.size();
    int r = ImageWrite(image, block.data(), n);
    if (r != ErrNone) return r;
    count -= static_cast<int32_t>(n);
  }
  return ErrNone;
}

bool ImageKeepBlank(const ImageStream& image, int32_t size) {
  if (image.blanks == nullptr || image.file == nullptr) return false;
  *image.blanks = ImageBlanks();
  if (!ReserveFileSpace(image.file, size)) return false;
  image.blanks->size = size;
  return true;
}

int ImageFillBlanks(const ImageStream& image) {
  if (image.blanks == nullptr || image.blanks->size <= 0) return ErrNone;
  const ImageBlanks blanks = std::move(*image.blanks);
  *image.blanks = ImageBlanks();  // the fill below is no write to keep apart
  int64_t from = 0;
  int r = ErrNone;
  for (const auto& [start, end] : blanks.written) {
    if ((r = FillBlank(image, from, start)) != ErrNone) return r;
    from = end;
  }
  r = FillBlank(image, from, blanks.size);
  return r != ErrNone ? r : ImageFlush(image);
}

int ImageFillBlanksEarly(const ImageStream& image, int64_t from, int64_t to) {
  if (image.blanks == nullptr || image.blanks->size <= 0) return ErrNone;
  from = std::max<int64_t>(from, 0);
  to = std::min(to, image.blanks->size);
  if (from >= to) return ErrNone;
  const int32_t resume = ImageTell(image);  // the writers after it find the stream where it was
  if (resume < 0) return WriteFailed(image);
  // The gaps between what was written, found before the fill marks them written too (so that
  // the final fill passes over them).
  std::vector<std::pair<int64_t, int64_t>> gaps;
  int64_t at = from;
  for (const auto& [start, end] : image.blanks->written) {
    if (end <= at) continue;
    if (start >= to) break;
    if (start > at) gaps.emplace_back(at, start);
    at = std::max(at, end);
  }
  if (at < to) gaps.emplace_back(at, to);
  int r = ErrNone;
  for (const auto& [start, end] : gaps) {
    if ((r = FillBlank(image, start, end)) != ErrNone) return r;
  }
  ImageStartWriteBack(image, from, to - from);
  return ImageSeek(image, resume);
}

void ImageStartWriteBack(const ImageStream& image, int64_t from, int64_t count) {
  if (image.file != nullptr) StartWriteBack(image.file, from, count);
}

int ImageFlush(const ImageStream& image) {
  if (image.file == nullptr) return ErrWrite;
  if (std::fflush(image.file) != 0 || std::ferror(image.file)) return WriteFailed(image);
  return ErrNone;
}

int32_t ImageTell(const ImageStream& image) {
  if (image.file == nullptr) return -1;
  long pos = std::ftell(image.file);
  return pos < 0 || pos > INT32_MAX ? -1 : static_cast<int32_t>(pos);
}

int32_t ImageLength(const ImageStream& image) {
  if (image.file == nullptr || std::fseek(image.file, 0, SEEK_END) != 0) return -1;
  return ImageTell(image);
}
