#include "audio/sound_output.h"

#include <vector>

#include "image/image_file.h"
#include "result_codes.h"
#include "text_format.h"
#include "wrap_math.h"

int32_t SoundFilePosition(int32_t offset, int32_t soundBase, int32_t start) {
  return WrapSub(WrapAdd(soundBase, start), offset);
}

namespace {

// Pass 1 reserved exactly start..end (inclusive) from the same file's header.
bool FillsRange(size_t bytes, int32_t start, int32_t end) {
  return static_cast<int64_t>(bytes) == static_cast<int64_t>(end) - start + 1;
}

// Every this many bytes of a sound, the system is asked to start writing them to the disk, so
// that the final sync does not wait for the whole sound.
constexpr size_t kWriteBackBytes = size_t{1} << 20;

// Encodes and writes block after block from position, the current image position; *written
// counts the bytes that reached the image.
int StreamBlocks(const ImageStream& image, const SoundCodec& codec, SampleReader* reader,
                 const SoundPlace& place, int32_t position, size_t* written) {
  size_t sent = 0;  // bytes whose disk writes were started
  CodecState state;
  StartAdpcmSearch(&state.adpcm, place.adpcmQuality);
  std::vector<uint8_t> bytes;
  size_t n = 0;
  int r = ErrNone;
  while ((r = ReadSampleBlock(reader, place.scale, &n)) == ErrNone && n > 0) {
    const bool last = reader->done >= reader->frames;
    codec.encode(&state, reader->samples.data(), n, last, &bytes);
    if (place.levels != nullptr) MeterBlock(place.levels, reader->samples.data(), n);
    if (place.codecs != nullptr) {
      MeterCodecs(place.codecs, reader->samples.data(), n, last, {codec.kind, bytes.data(), bytes.size(), true});
    }
    const size_t size = bytes.size();
    if (size == 0) continue;
    r = ImageWrite(image, bytes.data(), size);
    if (r != ErrNone) return r;
    *written += size;
    if (*written - sent >= kWriteBackBytes) {
      ImageStartWriteBack(image, int64_t{position} + static_cast<int64_t>(sent), static_cast<int64_t>(*written - sent));
      sent = *written;
    }
  }
  return r;
}

// Puts the blank value back over the first bytes of a sound that could not be completed; the
// sound's own failure is what the caller reports.
void Unwrite(const ImageStream& image, int32_t position, size_t written) {
  if (written > 0 && ImageSeek(image, position) == ErrNone) {
    ImageFill(image, 0xFF, static_cast<int32_t>(written));
  }
}

}  // namespace

int StoreSound(const ImageStream& image, const SoundCodec& codec, SampleReader* reader,
               const SoundPlace& place) {
  if (codec.encode == nullptr) return ErrNone;
  if (!FillsRange(codec.bytes(reader->frames), place.start, place.end)) return ErrInternal;
  const int32_t position = SoundFilePosition(place.offset, place.soundBase, place.start);
  int r = ImageSeek(image, position);
  if (r != ErrNone) return r;
  *place.listing += Format("%s Samples = %8d <%-s> : \"%s\".\n", codec.tag,
                           static_cast<int32_t>(reader->frames), place.name, place.fileName);
  size_t written = 0;
  r = StreamBlocks(image, codec, reader, place, position, &written);
  if (r == ErrRead) Unwrite(image, position, written);
  return r != ErrNone ? r : ImageFlush(image);
}
