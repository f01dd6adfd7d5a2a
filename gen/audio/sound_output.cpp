#include "audio/sound_output.h"

#include <cstdio>

#include "image/image_file.h"
#include "script/diagnostics.h"
#include "wrap_math.h"

int32_t SoundFilePosition(int32_t offset, int32_t soundBase, int32_t start) {
  return WrapSub(WrapAdd(soundBase, start), offset);
}

namespace {

// Pass 1 reserved exactly start..end (inclusive) from the same file's header.
bool FillsRange(size_t bytes, int32_t start, int32_t end) {
  return static_cast<int64_t>(bytes) == static_cast<int64_t>(end) - start + 1;
}

}  // namespace

bool HasValidCount(const SampleBuffer& samples) {
  return samples.count >= 0 && static_cast<size_t>(samples.count) <= samples.samples.size();
}

int StoreSound(const char* tag, const SampleBuffer& samples, const SoundPlace& place,
               const std::vector<uint8_t>& bytes) {
  if (!FillsRange(bytes.size(), place.start, place.end)) return ErrInternal;
  int r = ImageSeek(SoundFilePosition(place.offset, place.soundBase, place.start));
  if (r != ErrNone) return r;
  std::printf("%s Samples = %8d <%-s> : \"%s\".\n", tag, samples.count, place.name, place.fileName);
  r = ImageWrite(bytes.data(), bytes.size());
  return r != ErrNone ? r : ImageFlush();
}
