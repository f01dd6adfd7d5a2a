#include "image/image_file.h"

#include <cstdio>
#include <string>
#include <vector>

#include "byte_order.h"
#include "compile_state.h"
#include "platform/file_system.h"
#include "result_codes.h"
#include "warnings.h"

namespace {

// The chip tools say only "Fatel Write Operation"; the system knows why.
int WriteFailed() {
  const std::string reason = LastSystemError();
  SetErrorDetail("cannot write the image %s: %s", g_state.ArgCount > 2 ? g_state.Args[2].c_str() : "",
                 reason.c_str());
  return ErrWrite;
}

}  // namespace

int ImageSeek(int32_t position) {
  if (position < 0) return ErrFilePosition;
  if (g_state.Image == nullptr) return ErrWrite;
  if (std::fseek(g_state.Image, position, SEEK_SET) != 0) return WriteFailed();
  return ErrNone;
}

int ImageWrite(const void* data, size_t n) {
  if (g_state.Image == nullptr) return ErrWrite;
  if (n == 0) return ErrNone;
  if (std::fwrite(data, 1, n, g_state.Image) != n) return WriteFailed();
  return ErrNone;
}

int ImageWriteAt(int32_t position, const void* data, size_t n) {
  int r = ImageSeek(position);
  return r != ErrNone ? r : ImageWrite(data, n);
}

int ImageWriteWordAt(int32_t position, uint32_t value) {
  uint8_t bytes[4];
  PutLittleEndian(bytes, value, 4);
  return ImageWriteAt(position, bytes, sizeof bytes);
}

int ImageFill(uint8_t byte, int32_t count) {
  if (count <= 0) return ErrNone;
  // Written in blocks so that a 256 MB image does not need 256 MB of memory.
  const std::vector<uint8_t> block(65536, byte);
  while (count > 0) {
    size_t n = count < 65536 ? static_cast<size_t>(count) : block.size();
    int r = ImageWrite(block.data(), n);
    if (r != ErrNone) return r;
    count -= static_cast<int32_t>(n);
  }
  return ErrNone;
}

int ImageFlush() {
  if (g_state.Image == nullptr) return ErrWrite;
  if (std::fflush(g_state.Image) != 0 || std::ferror(g_state.Image)) return WriteFailed();
  return ErrNone;
}

int32_t ImageTell() {
  if (g_state.Image == nullptr) return -1;
  long pos = std::ftell(g_state.Image);
  return pos < 0 || pos > INT32_MAX ? -1 : static_cast<int32_t>(pos);
}

int32_t ImageLength() {
  if (g_state.Image == nullptr || std::fseek(g_state.Image, 0, SEEK_END) != 0) return -1;
  return ImageTell();
}
