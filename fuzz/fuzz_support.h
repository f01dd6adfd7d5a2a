#pragma once
// What every fuzz target does once before its first input: work in a scratch folder of its
// own, and send standard output (listings and messages, not what is tested) to /dev/null.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline void EnterScratchFolder(const char* name) {
  std::string dir = std::string("/tmp/qs71-") + name + "-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr || chdir(dir.c_str()) != 0) std::abort();
}

inline void SilenceStandardOutput() {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}
