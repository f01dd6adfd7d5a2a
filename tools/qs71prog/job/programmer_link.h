#pragma once

#include <string>

namespace qs71prog {

// The programmer a job runs on: the first one found, or, named, the programmer at `path`.
struct ProgrammerLink {
  bool named = false;
  std::string path;

  // For the job calls: the path, or null for the first programmer found.
  const char* Programmer() const { return named ? path.c_str() : nullptr; }
};

}  // namespace qs71prog
