#pragma once
// The image reaches its name only after a run without errors. For a plain file it is built in a
// scratch file beside the output and renamed onto it at the end (OutputWriter, as every output
// of the tools), so that a failed, interrupted or killed compile leaves the output as it was,
// and never a plausible image that a programmer would then burn.
//
// An output whose name leads to a device, a FIFO or a socket (/dev/full, /dev/stdout, a pipe's
// /proc/self/fd/N) is written in place. A symbolic link to a plain file stays a link: the file
// it leads to is rebuilt beside itself and keeps its permission bits.
//
// No output is ever one of the inputs (the script or a wave file), and the map is neither the
// image nor the failed-image file: compared by identity (device and inode, or the Windows file
// ID), and names not yet created by folder and name, without regard to letter case on Windows.
// The image and the failed-image file may share a name, as exactly one of them is written in a
// run.

#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "output_writer.h"

struct CompileState;

struct OutputRequest {
  std::string image;   // the output name from the command line
  std::string failed;  // --failed-image: where a failed compile's image goes; empty: nowhere
  std::string map;     // --map; empty: no map
  std::string script;
  std::string html;    // --html; empty: no page
  std::string project;  // --project; empty: none
};

// The image of a compile until it is settled.
struct PendingImage {
  OutputRequest request;
  Destination image;
  OutputWriter file;        // the image built beside its name, until it is settled
  FILE* aside = nullptr;    // the image of a pipe or terminal, built in a temporary file
  FILE* device = nullptr;   // a pipe or terminal that takes the image once it is complete
};

// Opens s.Image for the request. False when it cannot be opened or an output would
// overwrite the script or another output; then nothing was written, and the reason is on
// standard error.
bool OpenImageOutput(CompileState& s, const OutputRequest& request);

// What output of the run path is ("the image output", "the map", ...), also when neither exists
// yet; empty when it is none of them.
std::string OutputAt(CompileState& s, const std::string& path);

// After pass 1, when the wave files are known: false (reason on standard error) when an
// output is one of them.
bool OutputSparesWaveFiles(CompileState& s);

// The end of a run: with 0 errors the image takes its name (a failure to do so is an error),
// otherwise it goes to the failed-image file or away. Returns passResult, plus 1 when the image
// could not be given its name. Closes s.Image. quiet: a compile stopped by a scanner limit,
// whose message stands alone on standard error.
int SettleImageOutput(CompileState& s, int passResult, bool quiet = false);

// Whether stream writes into the image itself: the image's own regular file (standard output
// redirected to the image's name) or the very pipe or socket the image goes down
// (/dev/stdout into a pipe). A listing there would be mixed into the image's bytes. A device
// never counts: /dev/null, a terminal or /dev/zero take the listing and the image side by side.
bool StreamIsImage(FILE* stream, const std::string& image);

// Removes an image that has not been settled (an early refusal); nothing is kept.
void AbandonImageOutput(CompileState& s);

// The image as it stands, read back from the stream; false for devices and pipes, which
// cannot be read back, and on a read error.
bool ReadImageBack(CompileState& s, std::vector<uint8_t>* bytes);

// SHA-256 of the image as it stands, read back from the stream; empty for devices and pipes,
// which cannot be read back.
std::string ImageSha256(CompileState& s);
