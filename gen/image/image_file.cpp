#include "image/image_file.h"

#include <cstdio>
#include <string>
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
  if (std::fwrite(data, 1, n, image.file) != n) return WriteFailed(image);
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
