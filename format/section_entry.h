#pragma once
// The 32-bit entry the chip finds per section in the image header: the section's flags, its
// option and the address of its group table.

#include <cstdint>

constexpr int kSectionCount = 1024;

// `.SECTION [n] $OPTION`: 1 to 3 are stored, anything else as none.
constexpr int32_t kNoOption = -1;

// Bits of the entry's flag byte, one per `.SECTION` flag statement.
enum SectionFlagBit : int {
  kSectionEdgeBit = 0,        // $EDGE
  kSectionHoldBit = 1,        // $HOLD
  kSectionRetriggerBit = 2,   // $RETRG
  kSectionStopEnableBit = 7,  // $STOPEN
};
constexpr uint8_t kSectionFlagBits = (1u << kSectionEdgeBit) | (1u << kSectionHoldBit) |
                                     (1u << kSectionRetriggerBit) | (1u << kSectionStopEnableBit);

inline bool SectionHasFlag(int32_t flags, SectionFlagBit bit) { return ((flags >> bit) & 1) != 0; }

// A section without links gets this entry, which the chip treats as empty.
constexpr uint32_t kEmptySectionEntry = 0xFFFFFFFFu;

// The entry of a section whose group table lies at chip address secBase; holds table addresses
// that SectionEntryHolds.
uint32_t SectionEntry(int32_t secBase, int32_t flags, int32_t option, int32_t groups);

bool SectionEntryHolds(int64_t tableAddress);

// What an entry read back from an image says.
struct SectionEntryFields {
  uint8_t flags = 0;          // the SectionFlagBit bits
  int option = kNoOption;     // 1 to 3, or kNoOption
  uint32_t tableAddress = 0;  // chip address as the entry holds it (bits 3 to 23)
};

enum class SectionEntryFault {
  None,
  FixedBitsMissing,  // bits 3 to 6 are set in every entry
  NoSuchOption,      // bits 8 to 10 hold neither an option of 1 to 3 nor none
};

// Decodes an entry that is not kEmptySectionEntry.
SectionEntryFault DecodeSectionEntry(uint32_t entry, SectionEntryFields* fields);
