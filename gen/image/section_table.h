#pragma once
// The sections of a script: their flags, options and links as pass 1 counts them, the section
// entries written at the end of pass 1 and the group entries written by pass 2. The entries'
// layout is section_entry.h's and group_entry.h's.

#include <cstdint>

struct CompileState;

// Pass 1, `.SECTION [n] $OPTION = e`: 0 means none, 1 to 3 are stored, anything else is
// stored as none and refused with ErrOptionValue.
int SetSectionOption(CompileState& s, int32_t n, int32_t e);

// Pass 1, `$EDGE`/`$HOLD`/`$RETRG`/`$STOPEN` = "Yes" or "No", literal with its quotes; bit is
// the flag's SectionFlagBit.
int SetSectionFlag(CompileState& s, int32_t n, int bit, const char* literal);

// Pass 1, `$GROUPS`: counts one more link of section n to a sound defined earlier.
int CountGroupLink(CompileState& s, int32_t n, const char* name);

// End of pass 1: lays out the group tables, writes the entries of sections 0 to MaxSection
// with a listing line each and sets SecBase and SoundBase. A section with links whose table
// lies beyond what its entry can address stops it after that section's listing line with
// ErrGroupTableAddress.
int WriteSectionTable(CompileState& s);

// Pass 2, `$GROUPS = name(a):b`: writes the next group entry of section n. A first or last
// chip address that does not fit GrpAdr bytes is refused after the listing line with
// ErrSoundAddress, or ErrLinkLength for the end of a silence or mute; nothing is written.
int LinkGroup(CompileState& s, int32_t n, const char* name, int32_t a, int32_t b);
