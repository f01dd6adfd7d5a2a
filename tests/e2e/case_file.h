#pragma once
// An end-to-end case: the script, the WAV files to make beside it, the command line, and what
// qs71gen must print and write. One text file per case:
//
//   # free comment lines
//   args: %script %image 12 34          (optional; default "%script %image"; %empty: "")
//   wav: tone.wav shape=sine freq=440 rate=16000 bits=16 channels=1 frames=100 amp=0.5
//        pad=N                           (N silent frames before and after the signal)
//        container=flac|wav|aiff         (written by libsndfile: 24/32 bits, tag=3 float, FLAC)
//   file: raw.bin 52 49 46 46            (any other input file, as hex bytes)
//   exit: -3                             (default 0)
//   link: out.bin target.bin             (a symbolic link, which must still be one afterwards)
//   fifo: pipe.bin                       (a FIFO that the runner drains while qs71gen runs;
//                                         reading it as an output gives what was drained)
//   mode: target.bin 640                 (permission bits set before the run, expected after it)
//   mount: disk tmpfs 16k                (the run happens in a private mount namespace with a
//   mount: sub readonly                   tmpfs of that size, or sub made read-only, at the
//                                         folder; skipped where mounting is not allowed)
//   failed-image: no                     (see below)
//   === script
//   ...script text, byte for byte...
//   === stdout
//   ...expected standard output, byte for byte...
//   === input project.toml               (optional; another input file, its text as it stands)
//   === stderr                           (optional)
//   === file map.txt                     (optional; another output file, byte for byte)
//   === image                            (optional; "none" when no image file may exist)
//   size 65536
//   fill ff
//   0004: 78 37 00 00 ff*4
//   fe00: ulaw-table
//   ff00: step-table

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct WavInput {
  std::string name;
  std::map<std::string, std::string> params;
};

struct ImageRun {
  uint32_t offset = 0;
  std::vector<uint8_t> bytes;
};

struct ImageExpectation {
  bool present = false;    // an === image section was given
  bool mustBeAbsent = false;
  uint32_t size = 0;
  uint8_t fill = 0xFF;
  std::vector<ImageRun> runs;
};

struct CaseMount {
  std::string folder;  // empty: no mount
  std::string kind;    // "tmpfs" or "readonly"
  std::string size;
};

struct CaseFile {
  std::vector<std::string> args{"%script", "%image"};
  std::vector<std::pair<std::string, std::string>> links;
  std::vector<std::pair<std::string, std::string>> replacedLinks;  // links the run makes plain files
  std::vector<std::string> fifos;
  std::vector<std::pair<std::string, unsigned>> modes;
  CaseMount mount;
  std::vector<WavInput> wavs;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  int exitCode = 0;
  bool keepFailedImage = true;
  std::string script;
  std::string expectedStdout;
  std::optional<std::string> expectedStderr;
  std::vector<std::pair<std::string, std::string>> expectedFiles;
  ImageExpectation image;
};

// Parses a case; on failure returns false and says why in error.
bool ParseCaseFile(const std::string& text, CaseFile* out, std::string* error);

// The bytes the image expectation describes (fill everywhere but the runs).
std::vector<uint8_t> ExpandImage(const ImageExpectation& image);

// A compact description of actual image bytes, for writing a case's expectation anew.
std::string DescribeImage(const std::vector<uint8_t>& bytes);

// Every input the runner writes (the script, the WAV files, the "file:" files other than
// image.bin) must be byte-identical after the run: qs71gen never writes over its inputs.
//
// qs71gen replaces its output only after a compile without errors. The cases of failing scripts
// were recorded when a failed compile still left its image at the output, and their image
// expectations describe that image: so the runner asks for it with "--failed-image image.bin"
// whenever the command line starts with the script. "failed-image: no" runs the case without
// it, to check what a user sees by default.

// The two system-area tables every image carries, as the chip expects them.
std::vector<uint8_t> UlawTableBytes();
std::vector<uint8_t> StepTableBytes();
