#pragma once
// The image reaches its name only after a run without errors. For a plain file it is built in a
// scratch file beside the output and renamed onto it at the end, so that a failed, interrupted
// or killed compile leaves the output as it was, and never a plausible image that a programmer
// would then burn. Devices and pipes (/dev/full, /dev/stdout) are written in place as always.
//
// The output must also never be one of the inputs: the script or a wave file, compared by
// identity (device and inode, or the Windows file ID), not by name.

#include <string>

struct OutputRequest {
  std::string image;   // the output name from the command line
  std::string failed;  // --failed-image: where a failed compile's image goes; empty: nowhere
  std::string script;
};

// Opens g_state.Image for the request. False when it cannot be opened or would overwrite the
// script; then nothing was written, and the reason for a refusal is on standard error.
bool OpenImageOutput(const OutputRequest& request);

// After pass 1, when the wave files are known: false (reason on standard error) when the
// output or the failed-image file is one of them.
bool OutputSparesWaveFiles();

// The end of a run: with 0 errors the image takes its name (a failure to do so is an error),
// otherwise it goes to the failed-image file or away. Returns passResult, plus 1 when the image
// could not be given its name. Closes g_state.Image.
int SettleImageOutput(int passResult);

// Removes an image that has not been settled (an early refusal); nothing is kept.
void AbandonImageOutput();

// SHA-256 of the image as it stands, read back from the stream; empty for devices and pipes,
// which cannot be read back.
std::string ImageSha256();
