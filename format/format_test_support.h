#pragma once
// Shared by the unit tests that read images: images laid out in memory with the format's own
// layout and entry functions, so that a test states only the sections, links and bytes that
// matter to it.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "byte_order.h"
#include "cfgmem_fields.h"
#include "codec_tables.h"
#include "group_entry.h"
#include "image_layout.h"
#include "section_entry.h"
#include "sound_decoders.h"

namespace imagetest {

inline void PutLe(std::vector<uint8_t>& image, int64_t pos, uint32_t value, int n) {
  PutLittleEndian(image.data() + pos, value, n);
}

// size bytes of 0xFF with the fixed tables and the tag, as AddVolMap leaves an image.
inline std::vector<uint8_t> BlankImage(int32_t size) {
  std::vector<uint8_t> image(static_cast<size_t>(size), 0xFF);
  for (int c = 0; c < 128; ++c) PutLe(image, SystemAreaStart(size) + 2 * c, UlawExpansion(c), 2);
  for (int i = 0; i < kImaStepCount; ++i) {
    PutLe(image, AdpcmStart(size) + 2 * i, static_cast<uint16_t>(kImaStepTable[i]), 2);
  }
  image[static_cast<size_t>(TagPos(size))] = kTagBytes[0];
  image[static_cast<size_t>(TagPos(size)) + 1] = kTagBytes[1];
  return image;
}

// The decoding tables an image stores in its system area.
inline StoredCodecTables TablesOf(const std::vector<uint8_t>& image) {
  return ReadStoredCodecTables(image.data() + SystemAreaStart(static_cast<int32_t>(image.size())));
}

// A link as a $GROUPS statement makes it: type code, divider, and the sound's range relative
// to the sound data base (silence: 0 to length - 1).
struct Link {
  uint8_t type;
  uint8_t divider;
  int32_t start;
  int32_t end;
  bool flag = false;
};

using SectionLinks = std::pair<int, std::vector<Link>>;

// Section entries and group tables as WriteSectionTable and LinkGroup write them; returns
// SoundBase. sections must be in number order.
inline int32_t PutSections(std::vector<uint8_t>& image, const std::vector<SectionLinks>& sections,
                           int maxSection, int32_t grpAdr = 3, int32_t offset = 0) {
  const int32_t size = GroupEntrySize(grpAdr);
  int32_t base = GroupStart(maxSection);
  std::vector<int32_t> bases;
  for (const SectionLinks& s : sections) {
    bases.push_back(base);
    base += size * static_cast<int32_t>(s.second.size());
  }
  const int32_t soundBase = base;
  for (size_t i = 0; i < sections.size(); ++i) {
    const auto& [number, links] = sections[i];
    PutLe(image, SectionEntryPos(number),
          SectionEntry(bases[i], 0, -1, static_cast<int32_t>(links.size())), 4);
    for (size_t k = 0; k < links.size(); ++k) {
      const Link& l = links[k];
      const int64_t pos = bases[i] + static_cast<int64_t>(k) * size - offset;
      const bool last = k + 1 == links.size();
      image[static_cast<size_t>(pos)] =
          static_cast<uint8_t>(l.type | (l.flag ? 0x40 : 0) | (last ? 0x80 : 0));
      image[static_cast<size_t>(pos) + 1] = l.divider;
      PutLe(image, pos + 2, static_cast<uint32_t>(soundBase + l.start), grpAdr);
      PutLe(image, pos + 2 + grpAdr, ~static_cast<uint32_t>(soundBase + l.end), grpAdr);
    }
  }
  return soundBase;
}

using CfgMemBlock = std::array<uint8_t, kCfgMemBytes>;

// The configuration block as the first .CFGMEM statement leaves it before storing a field.
inline CfgMemBlock InitialBlock() {
  CfgMemBlock b;
  b.fill(0xFF);
  b[kCfgMemSlaveByte] = kCfgMemSlaveMark;
  return b;
}

// Bits of the block that the field owns, as one mask per byte.
inline CfgMemBlock OwnedBits(const CfgMemField& f) {
  CfgMemBlock mask{};
  for (int i = 0; i < f.placeCount; ++i) {
    const CfgMemPlace& p = f.places[i];
    mask[p.byte] |= static_cast<uint8_t>(((1u << p.width) - 1u) << p.shift);
  }
  return mask;
}

}  // namespace imagetest
