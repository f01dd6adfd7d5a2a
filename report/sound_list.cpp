#include "sound_list.h"

#include <algorithm>

namespace {

Sound* FindSame(std::vector<Sound>* sounds, const GroupLink& link) {
  for (Sound& sound : *sounds) {
    if (sound.kind == link.kind && sound.start == link.start && sound.end == link.end) {
      return &sound;
    }
  }
  return nullptr;
}

Sound NewSound(const GroupLink& link, int id, int32_t offset) {
  Sound sound;
  sound.id = id;
  sound.kind = link.kind;
  sound.start = link.start;
  sound.end = link.end;
  sound.filePos = link.start - offset;
  sound.length = link.length;
  sound.divider = link.divider;
  return sound;
}

}  // namespace

const char* KindName(const SoundKindInfo* kind) {
  return kind != nullptr ? kind->statement + 1 : "?";
}

void CollectSounds(std::vector<Section>* sections, int32_t offset, std::vector<Sound>* sounds) {
  sounds->clear();
  for (Section& section : *sections) {
    for (GroupLink& link : section.links) {
      Sound* same = FindSame(sounds, link);
      if (same == nullptr) {
        sounds->push_back(NewSound(link, static_cast<int>(sounds->size()) + 1, offset));
        same = &sounds->back();
      }
      same->linkCount += 1;
      if (link.divider != same->divider) same->mixedDividers = true;
      link.soundId = same->id;
    }
  }
}

std::vector<FreeRange> FindFreeRanges(const ImageBytes& image, const std::vector<Sound>& sounds,
                                      int64_t dataStart, int64_t dataEnd) {
  std::vector<const Sound*> data;
  for (const Sound& sound : sounds) {
    if (KindHasData(sound.kind->kind) && sound.length > 0) data.push_back(&sound);
  }
  std::stable_sort(data.begin(), data.end(),
                   [](const Sound* a, const Sound* b) { return a->filePos < b->filePos; });
  std::vector<FreeRange> free;
  int64_t cursor = dataStart;
  auto addGap = [&](int64_t end) {
    if (end > cursor) free.push_back({cursor, end - 1, image.CountUsed(cursor, end - cursor)});
  };
  for (const Sound* sound : data) {
    addGap(sound->filePos);
    cursor = std::max(cursor, sound->filePos + sound->length);
  }
  addGap(dataEnd);
  return free;
}
