#pragma once
// qs71dump from arguments to exit status, with standard output and standard error as text so
// that tests run it in process.

#include <string>
#include <vector>

struct DumpOutput {
  std::string out;
  std::string err;
};

// args without the program name. Returns the exit status.
int RunDump(const std::vector<std::string>& args, DumpOutput* output);
