#pragma once
// The image is one stream opened "wb+" and written only at absolute positions. Every seek and
// write goes through here so that a failure (a full disk, a negative position) becomes a
// result code instead of bytes silently lost or written somewhere else.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

// The bytes of the image that nothing has written to, which the chip reads as blank (0xFF).
// Writing every byte 0xFF first and the sounds over it would copy a big image twice; the
// blank bytes are written once instead, at the end, where nothing else went.
struct ImageBlanks {
  int64_t size = 0;                    // [0, size) is blank where not written; 0: none kept
  std::map<int64_t, int64_t> written;  // start -> end (exclusive); apart, none touching
};

// The image as its writers see it: the stream, and where a failed write's cause goes for the
// error report, with the name that the cause mentions; blanks, when given, learns every write.
struct ImageStream {
  FILE* file = nullptr;
  const char* name = "";
  std::string* detail = nullptr;
  ImageBlanks* blanks = nullptr;
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

// Reserves the first size bytes of the image on the disk, and from now on keeps them blank
// wherever nothing is written to them, without writing them until ImageFillBlanks. False, with
// nothing kept, where the file cannot be reserved (a device, Windows, a file system that
// cannot): the caller then writes the blank bytes itself.
bool ImageKeepBlank(const ImageStream& image, int32_t size);

// Writes 0xFF into every kept blank byte that was not written since ImageKeepBlank, and
// flushes; then no blank is kept. ErrNone when none was kept.
int ImageFillBlanks(const ImageStream& image);

// Writes the kept blank bytes of [from, to) that nothing wrote yet now rather than in
// ImageFillBlanks, and has the system start writing the range to the disk: a part that nothing
// else will write (the space after the last sound) is then on its way while the sounds are
// encoded, and the final sync waits for less. The stream is left at its position. ErrNone,
// with nothing written, when no blank is kept or the range is empty.
int ImageFillBlanksEarly(const ImageStream& image, int64_t from, int64_t to);

// Has the system start writing count bytes from from to the disk, without waiting for them.
void ImageStartWriteBack(const ImageStream& image, int64_t from, int64_t count);

// Pushes buffered bytes to the file; ErrWrite when that fails (a full device shows up here).
int ImageFlush(const ImageStream& image);

// The current position, or -1 when the stream cannot tell.
int32_t ImageTell(const ImageStream& image);

// Seeks to the end and returns the file length, or -1 on failure.
int32_t ImageLength(const ImageStream& image);
