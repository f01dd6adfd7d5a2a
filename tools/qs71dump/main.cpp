// qs71dump: the map of a QS71 OTP image, and its sounds back as WAV files.

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "dump_command.h"
#include "file_system.h"

int main(int argc, char** argv) {
  OpenMissingStandardStreams();
  // A reader that went away (qs71dump image.bin | head) is a failed write, reported below.
  IgnoreBrokenPipes();
  // Ctrl-C or a kill while the page or a sound is being written removes its scratch file.
  OnTermination(nullptr);
  std::vector<std::string> args(argv + 1, argv + argc);
  DumpOutput output;
  int status = 0;
  try {
    status = RunDump(args, &output);
  } catch (const std::bad_alloc&) {
    // The one exception the standard containers can raise: an image that asks for more
    // memory than there is gets a message, not an abort.
    output.err += "qs71dump: out of memory\n";
    status = 2;
  }
  return EmitDumpOutput(output, status, stdout, stderr);
}
