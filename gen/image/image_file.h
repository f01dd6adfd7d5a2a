#pragma once
// The image is one stream opened "wb+" and written only at absolute positions. Every seek and
// write goes through here so that a failure (a full disk, a negative position) becomes a
// result code instead of bytes silently lost or written somewhere else.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The image as its writers see it: the stream, and where a failed write's cause goes for the
// error report, with the name that the cause mentions.
struct ImageStream {
  FILE* file = nullptr;
  const char* name = "";
  std::string* detail = nullptr;
};

// Moves to an absolute file position. ErrFilePosition for a negative position, ErrWrite when
// the stream refuses.
int ImageSeek(const ImageStream& image, int32_t position);

// Writes n bytes at the current position; ErrWrite unless all of them were accepted.
int ImageWrite(const ImageStream& image, const void* data, size_t n);

// Seeks to position and writes n bytes there.
int ImageWriteAt(const ImageStream& image, int32_t position, const void* data, size_t n);

// Writes value as four bytes, least significant first, at position.
int ImageWriteWordAt(const ImageStream& image, int32_t position, uint32_t value);

// Writes count copies of byte at the current position.
int ImageFill(const ImageStream& image, uint8_t byte, int32_t count);

// Pushes buffered bytes to the file; ErrWrite when that fails (a full device shows up here).
int ImageFlush(const ImageStream& image);

// The current position, or -1 when the stream cannot tell.
int32_t ImageTell(const ImageStream& image);

// Seeks to the end and returns the file length, or -1 on failure.
int32_t ImageLength(const ImageStream& image);
