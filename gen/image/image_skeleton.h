#pragma once
// The skeleton of the OTP image, written at the end of an error-free pass 1: the blank image at
// its full size, the decoding tables and the tag of the system area, the options and the
// section table, each at the place image_layout.h gives it.

struct CompileState;

// Makes the image full size, blank (0xFF) where nothing else is written by the end, and writes
// its skeleton; sets MaxSize, SecBase and SoundBase.
// Returns the first failing code: ErrFileSize for a FileSize below 512 (nothing written), else
// ErrWrite or ErrFilePosition from the image stream.
int AddVolMap(CompileState& s);
