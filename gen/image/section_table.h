#pragma once
// Sections: the chip finds a 32-bit entry per section in the image header (flags, option and
// the address of the section's group table) and, in the group table, one entry per link that
// names a sound's address range and the clock divider for its rate.

#include <cstdint>

#include "clock_divider.h"

// Pass 1, `.SECTION [n] $OPTION = e`: 0 means none, 1 to 3 are stored, anything else is
// stored as none and refused with ErrOptionValue.
int SetSectionOption(int32_t n, int32_t e);

// Pass 1, `$EDGE`/`$HOLD`/`$RETRG`/`$STOPEN` (bit 0, 1, 2, 7) = "Yes" or "No", literal with its
// quotes.
int SetSectionFlag(int32_t n, int bit, const char* literal);

// Pass 1, `$GROUPS`: counts one more link of section n to a sound defined earlier.
int CountGroupLink(int32_t n, const char* name);

// End of pass 1: lays out the group tables, writes the entries of sections 0 to MaxSection
// with a listing line each and sets SecBase and SoundBase. A section with links whose table
// lies beyond what its entry can address stops it after that section's listing line with
// ErrGroupTableAddress.
int WriteSectionTable();

// Pass 2, `$GROUPS = name(a):b`: writes the next group entry of section n. A first or last
// chip address that does not fit GrpAdr bytes is refused after the listing line with
// ErrSoundAddress, or ErrLinkLength for the end of a silence or mute; nothing is written.
int LinkGroup(int32_t n, const char* name, int32_t a, int32_t b);

// Pure pieces of the formats, shared with an image inspector. SectionEntry holds table
// addresses that SectionEntryHolds; GroupAddressFits tells whether an exact chip address fits
// a group entry field of grpAdr bytes.
uint32_t SectionEntry(int32_t secBase, int32_t flags, int32_t option, int32_t groups);
int32_t GroupEntrySize(int32_t grpAdr);
bool SectionEntryHolds(int64_t tableAddress);
bool GroupAddressFits(int64_t address, int32_t grpAdr);
