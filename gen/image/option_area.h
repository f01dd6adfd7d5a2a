#pragma once
// The options at the end of the image as the generator writes them: the option block packed
// from the .GLOBAL values, and the volume map after it. Their layout is option_block.h's.

struct CompileState;

// `.GLOBAL $VOL_MAP = "0010..."`: up to 16 pairs of hex digits between the quotes; the steps
// not named get 0x80. 0, or ErrInternal for a malformed text (VolMap then stays as it was).
int ParseVolMap(CompileState& s, const char* literal);

// Lists the option values, writes the volume map and then the option block at OptionStart.
int WriteOptionBlock(CompileState& s);

// Writes the volume map at OptionBase + 48 with its listing line.
int WriteVolMap(CompileState& s);
