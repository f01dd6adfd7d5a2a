#pragma once
// The players a compile puts on its page beside what the chip plays: a sound's source as its
// file holds it, mixed to mono at its own rate (through the chip tools' reader, or the
// preparation's for what only that reads), and, with preparation, the samples the encoder
// takes; each with its levels in the words of the map.

#include <cstdint>
#include <string>
#include <vector>

#include "image_page.h"

struct CompileState;

// None for a sound without a wave file (silence, mute).
std::vector<PagePlayer> CompilePlayers(CompileState& s, const SoundNote& note);

// "peak -6.0, RMS -9.0 dBFS, 0 clipped, silent ..." of samples on the 16-bit scale at rate.
std::string PlayedLevelsText(const std::vector<int32_t>& samples, double rate);
