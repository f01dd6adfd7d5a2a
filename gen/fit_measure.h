#pragma once
// What --fit can choose from: every sound of a script that pass 1 has read and prepared with
// --resample, tried at every rate the chip plays (from the common recording rates, as --rates
// lists them, up to the sound's own rate) in every codec the chip decodes, as the map's codec
// trial measures them: the prepared samples encoded and played back by the chip's decoders.
//
// The SNR of an option is against the source, not against the samples it was resampled to: a
// rate below the source's loses the band above its half, and that loss counts as noise. The
// noise is the codec's error on the resampled samples plus the power the resampler's low-pass
// took away (the power of the sound prepared at its own rate less that of the sound prepared at
// the lower rate, each without the loudness gain); the two lie in different bands, so their
// powers add as they would in the difference between the source and the played sound brought
// back to the source's rate. A sound the chip plays exactly gets kLosslessDb, the floor of the
// 16-bit source itself, so that a total of SNRs stays finite.
//
// Which sounds change: every sound stored with a codec (ADPCM, PCM8, PCM16, u-law) but the
// ramps, which the chip plays as PCM16 at the ramp rate. A sound whose links all ask for one
// rate may take another rate (all its links then get it); a sound linked at several rates, or
// not at all, keeps its rate, and only its codec is chosen. The ADPCM option is measured at the
// level NEW.qs is compiled with: the sound's own (a project's) or the compile's --adpcm-quality;
// the levels differ in time and SNR, never in bytes. A sound is prepared with its own settings
// over the defaults, as the compile prepares it.

#include <vector>

#include "fit_choice.h"

struct CompileState;

inline constexpr double kLosslessDb = 98.0;

// Every sound that takes bytes, in definition order, with its options measured; a sound that
// cannot change keeps the one way it is stored now.
std::vector<FitSound> MeasureFitOptions(CompileState& s);
