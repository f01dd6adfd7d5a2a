#include "audio/sound_output.h"

#include <cstdio>

#include "image/image_file.h"
#include "result_codes.h"
#include "wrap_math.h"

int32_t SoundFilePosition(int32_t offset, int32_t soundBase, int32_t start) {
  return WrapSub(WrapAdd(soundBase, start), offset);
}

namespace {

// Pass 1 reserved exactly start..end (inclusive) from the same file's header.
bool FillsRange(size_t bytes, int32_t start, int32_t end) {
  return static_cast<int64_t>(bytes) == static_cast<int64_t>(end) - start + 1;
}

// True when the buffer's count describes samples it really holds.
bool HasValidCount(const SampleBuffer& samples) {
  return samples.count >= 0 && static_cast<size_t>(samples.count) <= samples.samples.size();
}

}  // namespace

int EncodeAndStore(const char* tag, StreamEncoder encode, const SampleBuffer& samples,
                   const SoundPlace& place) {
  if (!HasValidCount(samples)) return ErrInternal;
  const std::vector<uint8_t> bytes =
      encode(samples.samples.data(), static_cast<size_t>(samples.count));
  if (!FillsRange(bytes.size(), place.start, place.end)) return ErrInternal;
  int r = ImageSeek(SoundFilePosition(place.offset, place.soundBase, place.start));
  if (r != ErrNone) return r;
  std::printf("%s Samples = %8d <%-s> : \"%s\".\n", tag, samples.count, place.name, place.fileName);
  r = ImageWrite(bytes.data(), bytes.size());
  return r != ErrNone ? r : ImageFlush();
}
