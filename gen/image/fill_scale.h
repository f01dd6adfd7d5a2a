#pragma once
// Two `.GLOBAL` statements whose literal has a small syntax of its own: $FILL patches raw
// bytes into the image in pass 2, $SCALING sets the factor the wave input applies to every
// sample. Both take the literal with its double quotes.

// `"1F00:12_34_AB"`: hex address, colon, two-digit byte groups separated by '_'. Writes at the
// raw file position (Offset is not applied) and leaves the stream where it was. 0, or
// ErrInternal for a malformed text (groups before the faulty one stay written); ErrWrite or
// ErrFilePosition when the image refuses.
int FillData(const char* literal);

// `"3/4"`: decimal numerator (may be empty) and a non-zero decimal denominator. 0 or
// ErrInternal; on failure Scale keeps its value.
int SetScale(const char* literal);
