#pragma once
// The look at the image before anything reaches the programmer. An OTP part takes one write:
// a file that is not an image scraps it, and a missing or mis-sized file found only after the
// blank check costs a minute on the larger parts. So the file's size is judged before a byte
// of it is read, then its bytes by the image format's whole verdict (the one qs71dump shows),
// and a refusal leaves the programmer untouched. --force takes a file that is no image, for
// raw experiments, but never one that would clear a factory cell of the system area: that
// destroys the part's own trims, and the failure that follows blames the chip.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "image_check.h"
#include "cli/prog_options.h"

namespace qs71prog {

struct Preflight {
  ExitCode exit = ExitCode::kOk;  // kOk: the library may have the image
  std::string problem;            // why not, for the summary line
  std::string note;               // what --force let through, for the operator to see
  std::vector<uint8_t> bytes;     // the image as read and judged, when the library may have it
};

// The image of a run that names one: a regular file that can be read, of a part's size, and a
// QS71 image unless options.force takes it as it is. A run of a job file judges the job's
// image bytes instead. A run without an image passes.
Preflight PreflightImage(const Options& options);

// The size and content checks on bytes already read; name is the file's name for the texts.
// The result does not carry the bytes.
Preflight JudgeImage(const std::string& name, const std::vector<uint8_t>& bytes, bool force);

// JudgeImage with a verdict already made, so that a check can be left out of it.
Preflight JudgeVerdict(const std::string& name, const ImageVerdict& verdict, bool force);

}  // namespace qs71prog
