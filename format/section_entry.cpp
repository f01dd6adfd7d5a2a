#include "section_entry.h"

namespace {

constexpr uint32_t kAlwaysSet = 0x78;
constexpr uint32_t kOptionNone = 0x700;

// The entry keeps the table address without its three low bits (chip address bits 3..23).
uint32_t EntryAddress(uint32_t entry) { return (entry >> 11) << 3; }

// Option 0 stands for the patterns no option gives: bits 8 to 10 all clear, or bit 8 set
// without both of the others. The caller refuses it.
int EntryOption(uint32_t entry) {
  if (entry & 0x100) return ((entry >> 9) & 3) == 3 ? kNoOption : 0;
  return static_cast<int>((entry >> 9) & 3);
}

}  // namespace

// Bits 3 to 6 are always set; bits 8 to 10 hold the option, all three set for none; bits 11
// up hold the group table's address without its three low bits.
uint32_t SectionEntry(int32_t secBase, int32_t flags, int32_t option, int32_t groups) {
  if (groups == 0) return kEmptySectionEntry;
  uint32_t entry = (static_cast<uint32_t>(secBase) << 8) & ~0x7FFu;
  entry |= static_cast<uint32_t>(flags) | kAlwaysSet;
  if (option == kNoOption) entry |= kOptionNone;
  else entry |= (static_cast<uint32_t>(option) << 9) & 0x600u;
  return entry;
}

// Bits 11 to 31 of the entry carry address bits 3 to 23: the chip finds group tables in the
// first 16 MiB only, whatever GrpAdr is.
bool SectionEntryHolds(int64_t tableAddress) {
  return tableAddress >= 0 && tableAddress <= 0xFFFFFF;
}

// An entry is valid when SectionEntry builds it again bit for bit from what it says.
SectionEntryFault DecodeSectionEntry(uint32_t entry, SectionEntryFields* fields) {
  if ((entry & kAlwaysSet) != kAlwaysSet) return SectionEntryFault::FixedBitsMissing;
  fields->flags = static_cast<uint8_t>(entry & kSectionFlagBits);
  fields->option = EntryOption(entry);
  fields->tableAddress = EntryAddress(entry);
  const uint32_t rebuilt =
      SectionEntry(static_cast<int32_t>(fields->tableAddress), fields->flags, fields->option, 1);
  if (fields->option == 0 || rebuilt != entry) return SectionEntryFault::NoSuchOption;
  return SectionEntryFault::None;
}
