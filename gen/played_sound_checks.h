#pragma once
// After a compile without errors, each sound as the chip plays it: its bytes read back from the
// image and decoded with the tables the image stores, at the rate of each of its links. What
// only the played sound tells comes from there: its predicted level in the toy (--spl,
// sound_pressure.h), a mains hum the chip plays (with the high-pass that takes it out), and a
// sound far quieter in the toy than the others (with its cause, where it is known: the rate, the
// codec, the peak ceiling). Advice on standard error, never counted; the image is not touched.

struct CompileState;

void CheckPlayedSounds(CompileState& s);
