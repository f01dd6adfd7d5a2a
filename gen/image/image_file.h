#pragma once
// The image is one stream opened "wb+" and written only at absolute positions. Every seek and
// write goes through here so that a failure (a full disk, a negative position) becomes a
// result code instead of bytes silently lost or written somewhere else.

#include <cstddef>
#include <cstdint>

// Moves to an absolute file position. ErrFilePosition for a negative position, ErrWrite when
// the stream refuses.
int ImageSeek(int32_t position);

// Writes n bytes at the current position; ErrWrite unless all of them were accepted.
int ImageWrite(const void* data, size_t n);

// Seeks to position and writes n bytes there.
int ImageWriteAt(int32_t position, const void* data, size_t n);

// Writes value as four bytes, least significant first, at position.
int ImageWriteWordAt(int32_t position, uint32_t value);

// Writes count copies of byte at the current position.
int ImageFill(uint8_t byte, int32_t count);

// Pushes buffered bytes to the file; ErrWrite when that fails (a full device shows up here).
int ImageFlush();

// The current position, or -1 when the stream cannot tell.
int32_t ImageTell();

// Seeks to the end and returns the file length, or -1 on failure.
int32_t ImageLength();
