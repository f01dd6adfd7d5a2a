#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "job/job_phase.h"
#include "platform/host_system.h"

namespace qs71prog {

// What qs71prog says in its own voice when a step fails, in the operator's terms. The
// library's messages stay as they are; these lines come after them, one each.

// What a failed call leaves behind to be put into words.
struct FailureFacts {
  Phase phase = Phase::kConnect;
  int32_t result = 0;
  int32_t otpSize = 0;
  int32_t progress = 0;    // the progress cell as the call left it
  std::string image;       // as given on the command line
  std::array<uint8_t, 4> chipId{0xFF, 0xFF, 0xFF, 0xFF};  // as the chip reported them
};

// One line on what the failing step found; empty where the summary already says it all.
std::string FoundWords(const FailureFacts& facts);

// After "no programmer": a programmer this user may not open is named with what to do about
// it; otherwise qs71prog asks whether one is plugged in, adding the instructions where the
// system has any.
std::vector<std::string> NoProgrammerWords(const std::vector<ProgrammerNode>& programmers,
                                           const std::string& instructions);

// The same for the emulated programmer, which nobody plugs in: its refusals come from its
// settings, which the emulated library's own message names.
std::string EmulatedNoProgrammerWords();

// Before the blank check: the image does not fit the chip that was identified.
std::string ImageSizeWords(const std::string& image, uint64_t imageSize, int32_t otpSize);

// For an image that does not fit the emulated chip: how to make an emulated part that it fits,
// "the emulated chip is the part QS71_EMU_ID names: QS71_EMU_ID=6D610400 makes one of 524288
// bytes"; or, when the part's size was that of an existing chip file, that the file is the part.
std::string EmulatedSizeWords(uint64_t imageSize, const std::string& chipFile = "");

}  // namespace qs71prog
